// The layout of one fuzz input, shared by the target that reads it and the mutator that edits
// it field by field. Every record has a fixed size, so a byte changed by a plain mutation still
// lands in the same field, and the mutator can rewrite a field without shifting the others.
// Any bytes decode to something: a read past the end gives 0, which always means "default".
//
//   header (8 bytes), then for the module target: two instance records and operations of
//   12 bytes each; for the frei0r target: operations of 12 bytes each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace fuzzinput {

// Header.
constexpr size_t kHeaderSize = 8;
constexpr size_t kTarget = 0;     // (v & 7) == 7: the frei0r filter, else the module
constexpr size_t kFault = 1;      // < 176 none, < 216 a refused allocation, else a failing host call
constexpr size_t kFaultAt = 2;    // 16 bits: which allocation or call
constexpr size_t kFaultMore = 4;  // bit 0: refuse every later allocation too; the failing call's status
constexpr size_t kFlags = 5;      // bit 0: a second instance; bits 1..5 all set: a cold start (see kCostly);
                                  // bit 6: the host pools no freed blocks
constexpr size_t kOperations = 6; // how many operations run, 1 + v % kMostOperations
constexpr size_t kCostly = 7;     // work that teaches little after its first time: low nibble 0xF
                                  // allows the funk raster at 16 bits, high nibble 0xF counts and
                                  // sizes up to the hostile test's holds, 0xFF a cold start

constexpr int kMostOperations = 6;
constexpr uint8_t kFirstAllocationFault = 176, kFirstCallFault = 216;
inline bool isFrei0r(uint8_t target) { return (target & 7) == 7; }
constexpr uint8_t kUnpooled = 0x40;
inline bool isCold(uint8_t flags, uint8_t costly) { return ((flags >> 1) & 0x1F) == 0x1F && costly == 0xFF; }
inline bool deepFunk(uint8_t costly) { return (costly & 0x0F) == 0x0F; }
inline bool heavy(uint8_t costly) { return (costly >> 4) == 0x0F; }

// Shape of an instance's frames.
constexpr size_t kShapeSize = 16;
constexpr size_t kLayout = 0;     // % 4
constexpr size_t kSizeClass = 1;  // < 208 small, < 240 medium, < 250 a long row, else a long column
constexpr size_t kWidth = 2, kHeight = 4;  // 16 bits each
constexpr size_t kPadding = 6;
constexpr size_t kFieldLayout = 7;  // < 224 progressive
constexpr size_t kAspect = 8;       // < 224 square pixels
constexpr size_t kFill = 9;         // bit 0: any bytes rather than values in range
constexpr size_t kSeed = 10;        // 32 bits
constexpr size_t kScaleX = 14, kScaleY = 15;  // < 176 1:1, else a render-scale preset
constexpr uint8_t kFirstMediumSize = 208, kFirstLongRow = 240, kFirstLongColumn = 250;
constexpr uint8_t kFirstScalePreset = 176;

// One setting: a selector and 8 bytes the selector gives a meaning.
constexpr size_t kSettingSize = 9;
// Selector classes of a slider (see the target): default, in range, hostile, edge, raw.
constexpr uint8_t kFirstInRange = 64, kFirstHostile = 144, kFirstEdge = 184, kFirstRaw = 216;
// Of a checkbox: default (every stage is off by default), on, off, hostile. A stage on costs
// its render time, so random bytes switch on about a quarter of them.
constexpr uint8_t kFirstOn = 160, kFirstOff = 224, kFirstHostileBox = 240;

// One operation.
constexpr size_t kOperationSize = 12;
constexpr size_t kOpKind = 0, kOpSubject = 1, kOpA = 2, kOpB = 3, kOpPayload = 4;

// Module operations, by kind % 16.
enum ModuleOp : uint8_t {
    kRender = 0,           // 0..7 and 14..15
    kSetParameter = 8,     // 8..9
    kKeyParameter = 10,
    kReshape = 11,
    kBadRender = 12,
    kRemake = 13,
};
inline ModuleOp moduleOp(uint8_t kind) {
    const uint8_t k = kind % 16;
    if (k < 8 || k >= 14) return kRender;
    if (k < 10) return kSetParameter;
    return ModuleOp(k);
}

// frei0r operations, by kind % 12.
enum Frei0rOp : uint8_t {
    kConstruct = 0,
    kDestruct = 1,
    kSetParam = 2,   // 2..3
    kGetParam = 4,
    kUpdate = 5,     // 5..7
    kUpdate2 = 8,
    kParamInfo = 9,
    kPluginInfo = 10,
    kInitDeinit = 11,
};
inline Frei0rOp frei0rOp(uint8_t kind) {
    const uint8_t k = kind % 12;
    if (k == 3) return kSetParam;
    if (k == 6 || k == 7) return kUpdate;
    return Frei0rOp(k);
}
constexpr int kFrei0rSlots = 3;
constexpr int kMostFrei0rOperations = 24;

// The number of settings in an instance record: the module's parameter count, known once the
// module is registered.
struct Layout {
    size_t settings = 0;
    std::vector<bool> checkbox;  // per setting: a checkbox, else a slider
    size_t instanceSize() const { return kShapeSize + settings * kSettingSize; }
    size_t moduleOperations() const { return kHeaderSize + 2 * instanceSize(); }
};
Layout& layout();

// Front-to-back reading; past the end every byte is 0.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
    uint8_t at(size_t offset) const { return offset < mSize ? mData[offset] : 0; }
    uint16_t u16(size_t offset) const { return uint16_t(at(offset) | at(offset + 1) << 8); }
    uint32_t u32(size_t offset) const { return uint32_t(u16(offset)) | uint32_t(u16(offset + 2)) << 16; }
    uint64_t u64(size_t offset) const { return uint64_t(u32(offset)) | uint64_t(u32(offset + 4)) << 32; }
    double f64(size_t offset) const {
        const uint64_t bits = u64(offset);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    // A record of `size` bytes at `offset`, read the same way.
    Reader record(size_t offset, size_t size) const {
        if (offset >= mSize) return Reader(nullptr, 0);
        return Reader(mData + offset, offset + size <= mSize ? size : mSize - offset);
    }
    size_t size() const { return mSize; }

private:
    const uint8_t* mData;
    size_t mSize;
};

inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void putDouble(uint8_t* p, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    put64(p, bits);
}

}  // namespace fuzzinput
