// Structure-aware mutation. Half the time libFuzzer's own byte mutations run on the input as it
// is; the other half the input is edited field by field (FuzzInput.h): the header, a frame
// shape, a setting or an operation gets a value of its kind, operations are added, dropped or
// repeated, so the settings record keeps its layout and every field edited stays meaningful
// (a checkbox on or off, a slider in its range or at an edge, with now and then a hostile
// value). Crossover takes each field from either parent.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "fuzz/FuzzInput.h"

using namespace fuzzinput;

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

using Random = std::minstd_rand;

uint32_t below(Random& r, uint32_t n) { return n ? uint32_t(r() % n) : 0; }
uint8_t byteIn(Random& r, uint8_t low, uint8_t endExclusive) {
    return uint8_t(low + below(r, uint32_t(endExclusive - low)));
}
uint64_t word(Random& r) { return uint64_t(r()) << 33 ^ uint64_t(r()) << 11 ^ r(); }

// Numbers that open branches: ends of the types, signs, small values.
uint64_t interesting(Random& r) {
    static const uint64_t values[] = {0,          1,           2,          0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u,
                                      0xFFFF,     0x7FFF,      0x8000,     100,         2048,        2049,
                                      0x7FF8000000000000ull,   0x7FF0000000000000ull,   0xFFF0000000000000ull,
                                      0x8000000000000000ull,   0x3FF0000000000000ull};
    return below(r, 3) == 0 ? values[below(r, sizeof values / sizeof values[0])] : word(r);
}

void setting(Random& r, uint8_t* field, bool checkbox) {
    const uint32_t roll = below(r, 100);
    if (checkbox) {
        field[0] = roll < 45 ? byteIn(r, kFirstOn, kFirstOff)
                   : roll < 60 ? byteIn(r, kFirstOff, kFirstHostileBox)
                   : roll < 95 ? byteIn(r, 0, kFirstOn)
                               : byteIn(r, kFirstHostileBox, 255);
    } else {
        field[0] = roll < 55 ? byteIn(r, kFirstInRange, kFirstHostile)
                   : roll < 70 ? byteIn(r, kFirstEdge, kFirstRaw)
                   : roll < 80 ? byteIn(r, 0, kFirstInRange)
                   : roll < 92 ? byteIn(r, kFirstHostile, kFirstEdge)
                               : byteIn(r, kFirstRaw, 255);
    }
    put64(field + 1, roll < 92 ? word(r) : interesting(r));
}

void shape(Random& r, uint8_t* s) {
    switch (below(r, 8)) {
    case 0: s[kLayout] = uint8_t(r()); break;
    case 1: {
        const uint32_t roll = below(r, 100);
        s[kSizeClass] = roll < 80 ? byteIn(r, 0, kFirstMediumSize)
                        : roll < 92 ? byteIn(r, kFirstMediumSize, kFirstLongRow)
                                    : byteIn(r, kFirstLongRow, 255);
        break;
    }
    case 2: put16(s + kWidth, uint16_t(r())); put16(s + kHeight, uint16_t(r())); break;
    case 3: s[kPadding] = uint8_t(r()); break;
    case 4: s[kFieldLayout] = below(r, 3) ? 0 : uint8_t(r()); break;
    case 5: s[kAspect] = below(r, 3) ? 0 : uint8_t(r()); break;
    case 6:
        s[kFill] = uint8_t(r());
        put16(s + kSeed, uint16_t(r()));
        put16(s + kSeed + 2, uint16_t(r()));
        break;
    default:
        s[kScaleX] = below(r, 2) ? 0 : byteIn(r, kFirstScalePreset, 255);
        s[kScaleY] = below(r, 2) ? s[kScaleX] : uint8_t(r());
        break;
    }
}

void moduleOperation(Random& r, uint8_t* op) {
    const uint32_t roll = below(r, 100);
    const uint8_t kinds[] = {0, 8, 10, 11, 12, 13};
    const uint8_t kind = roll < 58 ? 0 : roll < 73 ? 1 : roll < 78 ? 2 : roll < 86 ? 3 : roll < 95 ? 4 : 5;
    op[kOpKind] = uint8_t(kinds[kind] + (kind == 0 ? below(r, 8) : 0) + 16 * below(r, 16));
    op[kOpSubject] = uint8_t(r());
    const size_t settings = std::max<size_t>(layout().settings, 1);
    if (kind == 1) {
        // A parameter change: a setting's selector and payload, for the parameter in A.
        const uint8_t index = uint8_t(below(r, uint32_t(settings)));
        op[kOpA] = index;
        uint8_t field[kSettingSize];
        setting(r, field, index < layout().checkbox.size() && layout().checkbox[index]);
        op[kOpB] = field[0];
        std::copy(field + 1, field + kSettingSize, op + kOpPayload);
        return;
    }
    // Mostly the next frame; any rule now and then.
    op[kOpA] = kind == 0 && below(r, 2) ? 0 : uint8_t(r());
    op[kOpB] = uint8_t(r());
    put64(op + kOpPayload, interesting(r));
}

void frei0rOperation(Random& r, uint8_t* op) {
    const uint8_t kinds[] = {0, 0, 1, 2, 2, 3, 4, 5, 5, 5, 6, 7, 8, 9, 10, 11};
    op[kOpKind] = uint8_t(kinds[below(r, 16)] + 12 * below(r, 21));
    op[kOpSubject] = uint8_t(below(r, 3));
    const uint32_t roll = below(r, 100);
    op[kOpA] = roll < 75 ? byteIn(r, 0, 200) : uint8_t(r());
    op[kOpB] = below(r, 4) ? byteIn(r, 0, 200) : uint8_t(r());
    put64(op + kOpPayload, interesting(r));
}

// The input split into its fixed part and whole operations; a cut operation is dropped.
struct Parts {
    std::vector<uint8_t> bytes;
    size_t fixed = 0;
    size_t operations() const { return (bytes.size() - fixed) / kOperationSize; }
    uint8_t* op(size_t i) { return bytes.data() + fixed + i * kOperationSize; }
};

Parts split(const uint8_t* data, size_t size) {
    Parts p;
    p.bytes.assign(data, data + size);
    const bool frei0r = size > 0 && isFrei0r(data[kTarget]);
    p.fixed = frei0r ? kHeaderSize : layout().moduleOperations();
    if (p.bytes.size() < p.fixed) p.bytes.resize(p.fixed, 0);
    p.bytes.resize(p.fixed + p.operations() * kOperationSize);
    return p;
}

void editOperations(Random& r, Parts& p, bool frei0r) {
    const size_t n = p.operations();
    const uint32_t roll = below(r, 100);
    std::vector<uint8_t> op(kOperationSize);
    if (n == 0 || roll < 40) {  // insert
        frei0r ? frei0rOperation(r, op.data()) : moduleOperation(r, op.data());
        const size_t at = p.fixed + below(r, uint32_t(n + 1)) * kOperationSize;
        p.bytes.insert(p.bytes.begin() + ptrdiff_t(at), op.begin(), op.end());
    } else if (roll < 55) {  // drop
        const size_t at = p.fixed + below(r, uint32_t(n)) * kOperationSize;
        p.bytes.erase(p.bytes.begin() + ptrdiff_t(at), p.bytes.begin() + ptrdiff_t(at + kOperationSize));
    } else if (roll < 65) {  // repeat
        const uint8_t* from = p.op(below(r, uint32_t(n)));
        op.assign(from, from + kOperationSize);
        const size_t at = p.fixed + below(r, uint32_t(n + 1)) * kOperationSize;
        p.bytes.insert(p.bytes.begin() + ptrdiff_t(at), op.begin(), op.end());
    } else {  // replace
        uint8_t* to = p.op(below(r, uint32_t(n)));
        frei0r ? frei0rOperation(r, to) : moduleOperation(r, to);
    }
}

void editHeader(Random& r, uint8_t* h) {
    switch (below(r, 5)) {
    case 0: {
        const uint32_t roll = below(r, 100);
        h[kFault] = roll < 60 ? byteIn(r, 0, kFirstAllocationFault)
                    : roll < 85 ? byteIn(r, kFirstAllocationFault, kFirstCallFault)
                                : byteIn(r, kFirstCallFault, 255);
        put16(h + kFaultAt, uint16_t(below(r, 4) ? below(r, 64) : r()));
        h[kFaultMore] = uint8_t(r());
        break;
    }
    case 1: h[kFlags] = uint8_t(below(r, 32) ? (r() & 1) : r()); break;
    case 2: h[kOperations] = uint8_t(r()); break;
    case 3: h[kFlags] ^= 1; break;
    default: {
        const uint8_t costly[] = {0, 0, 0, 0, 0, 0, 0x0F, 0xF0, 0xFF};
        h[kCostly] = costly[below(r, 16) % 9];
        break;
    }
    }
}

// Costly work (kCostly) passes from a parent to a child only one time in 16: a costly input's
// children would otherwise all be costly, and a cold start or a 16-bit funk raster costs as
// much as a hundred plain inputs while teaching little after its first time. A child that
// this mutation made costly keeps it.
size_t tamed(Random& r, uint8_t parentCostly, uint8_t* data, size_t size) {
    const bool costly = (parentCostly & 0x0F) == 0x0F || (parentCostly >> 4) == 0x0F;
    if (costly && size > kCostly && data[kCostly] == parentCostly && below(r, 16) != 0) data[kCostly] = 0;
    return size;
}

size_t mutate(Random& r, uint8_t* data, size_t size, size_t maxSize) {
    if (below(r, 2) == 0 || layout().settings == 0) return LLVMFuzzerMutate(data, size, maxSize);
    Parts p = split(data, size);
    if (p.fixed > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
    const bool frei0r = isFrei0r(p.bytes[kTarget]);
    const int edits = 1 + int(below(r, 3));
    for (int e = 0; e < edits; ++e) {
        const uint32_t roll = below(r, 100);
        if (roll < 2) {
            // The other target: the bytes after the header read as the other layout.
            p.bytes[kTarget] = uint8_t(frei0r ? 0 : 7 + 8 * below(r, 32));
            p = split(p.bytes.data(), p.bytes.size());
            break;
        }
        if (frei0r || roll < 40) {
            editOperations(r, p, frei0r);
        } else if (roll < 50) {
            editHeader(r, p.bytes.data());
        } else {
            uint8_t* record = p.bytes.data() + kHeaderSize + below(r, 2) * layout().instanceSize();
            if (roll < 62) {
                shape(r, record);
            } else {
                const size_t i = below(r, uint32_t(layout().settings));
                setting(r, record + kShapeSize + i * kSettingSize, layout().checkbox[i]);
            }
        }
    }
    if (p.bytes.size() > maxSize) p.bytes.resize(p.fixed + (maxSize - p.fixed) / kOperationSize * kOperationSize);
    std::copy(p.bytes.begin(), p.bytes.end(), data);
    return p.bytes.size();
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
    Random r(seed);
    const uint8_t parentCostly = size > kCostly ? data[kCostly] : 0;
    const size_t mutated = mutate(r, data, size, maxSize);
    return tamed(r, parentCostly, data, mutated);
}

extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t* data1, size_t size1, const uint8_t* data2, size_t size2,
                                            uint8_t* out, size_t maxOutSize, unsigned int seed) {
    Random r(seed);
    Parts a = split(data1, size1), b = split(data2, size2);
    if (a.fixed != b.fixed || a.fixed > maxOutSize) {
        const size_t n = std::min(size1, maxOutSize);
        std::copy(data1, data1 + n, out);
        return n;
    }
    // Fields of the fixed part from either parent, whole records at a time.
    std::vector<uint8_t> child = a.bytes;
    child.resize(a.fixed);
    if (a.fixed > kHeaderSize) {
        const size_t size = layout().instanceSize();
        for (size_t i = 0; i < 2; ++i) {
            const size_t base = kHeaderSize + i * size;
            if (below(r, 2)) std::copy(b.bytes.begin() + ptrdiff_t(base), b.bytes.begin() + ptrdiff_t(base + kShapeSize),
                                       child.begin() + ptrdiff_t(base));
            for (size_t s = 0; s < layout().settings; ++s) {
                const size_t at = base + kShapeSize + s * kSettingSize;
                if (below(r, 2)) std::copy(b.bytes.begin() + ptrdiff_t(at), b.bytes.begin() + ptrdiff_t(at + kSettingSize),
                                           child.begin() + ptrdiff_t(at));
            }
        }
    }
    // The first parent's operations up to a point, then the second's from a point.
    const size_t keep = below(r, uint32_t(a.operations() + 1)), from = below(r, uint32_t(b.operations() + 1));
    child.insert(child.end(), a.bytes.begin() + ptrdiff_t(a.fixed), a.bytes.begin() + ptrdiff_t(a.fixed + keep * kOperationSize));
    child.insert(child.end(), b.bytes.begin() + ptrdiff_t(b.fixed + from * kOperationSize), b.bytes.end());
    if (child.size() > maxOutSize) child.resize(a.fixed + (maxOutSize - a.fixed) / kOperationSize * kOperationSize);
    std::copy(child.begin(), child.end(), out);
    return tamed(r, a.bytes.size() > kCostly ? a.bytes[kCostly] : 0, out, child.size());
}
