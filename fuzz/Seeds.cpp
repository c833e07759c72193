#include "fuzz/Seeds.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzz/FuzzInput.h"

using namespace fuzzinput;

namespace seeds {

namespace {

const char* const kStages[] = {"Plugin_FXid_DoFading",       "Plugin_FXid_DoFunk",      "Plugin_FXid_DoSplotches",
                               "Plugin_FXid_DoDust",         "Plugin_FXid_DoFlicker",   "Plugin_FXid_DoVignette",
                               "Plugin_FXid_DoDisplacement", "Plugin_FXid_DoMicro",     "Plugin_FXid_DoGrain",
                               "Plugin_FXid_DoDeepScratch",  "Plugin_FXid_DoBasicScratch", "Plugin_FXid_DoGateweave",
                               "Plugin_FXid_DoContrast"};

// The payload that puts a slider at `fraction` of its range.
uint64_t fractionBits(double fraction) { return uint64_t(fraction * 0x1.0p53) << 11; }

class Input {
public:
    Input(bool frei0r, const std::function<int(const char*)>& indexOf) : mIndexOf(indexOf) {
        mBytes.assign(frei0r ? kHeaderSize : layout().moduleOperations(), 0);
        if (frei0r) mBytes[kTarget] = 7;
        mBytes[kOperations] = kMostOperations - 1;
    }
    uint8_t* header() { return mBytes.data(); }
    uint8_t* record(int instance) { return mBytes.data() + kHeaderSize + size_t(instance) * layout().instanceSize(); }

    void set(int instance, const char* id, uint8_t selector, uint64_t payload = 0) {
        const int i = mIndexOf(id);
        if (i < 0) return;
        uint8_t* field = record(instance) + kShapeSize + size_t(i) * kSettingSize;
        field[0] = selector;
        put64(field + 1, payload);
    }
    void on(int instance, const char* id) { set(instance, id, kFirstOn + 10); }
    void fraction(int instance, const char* id, double f) { set(instance, id, 100, fractionBits(f)); }
    void everyStage(int instance) {
        for (const char* s : kStages) on(instance, s);
        fraction(instance, "Plugin_FXid_SplotchesFrequency", 1);
        fraction(instance, "Plugin_FXid_DustFreq", 1);
        fraction(instance, "Plugin_FXid_FlickerFreq", 1);
    }
    void shape(int instance, uint8_t layoutIndex, uint16_t width, uint16_t height, uint8_t sizeClass = 0) {
        uint8_t* s = record(instance);
        s[kLayout] = layoutIndex;
        s[kSizeClass] = sizeClass;
        put16(s + kWidth, uint16_t(width - 1));
        put16(s + kHeight, uint16_t(height - 1));
    }
    void op(uint8_t kind, uint8_t subject, uint8_t a, uint8_t b, uint64_t payload = 0) {
        uint8_t o[kOperationSize] = {kind, subject, a, b};
        put64(o + kOpPayload, payload);
        mBytes.insert(mBytes.end(), o, o + kOperationSize);
    }
    void renders(int n, uint8_t subject = 0) {
        for (int i = 0; i < n; ++i) op(kRender, subject, 0, 0);
    }
    void save(const std::string& folder, int& count) const {
        char name[32];
        std::snprintf(name, sizeof name, "/seed-%03d", count++);
        if (FILE* f = std::fopen((folder + name).c_str(), "wb")) {
            std::fwrite(mBytes.data(), 1, mBytes.size(), f);
            std::fclose(f);
        }
    }

private:
    const std::function<int(const char*)>& mIndexOf;
    std::vector<uint8_t> mBytes;
};

}  // namespace

void write(const std::string& folder, const std::function<int(const char*)>& indexOf) {
    int count = 0;
    auto module = [&] { return Input(false, indexOf); };
    // Each stage alone, 8-bit BGRA and 16-bit ARGB.
    for (const char* stage : kStages)
        for (uint8_t l : {1, 2}) {
            Input in = module();
            in.shape(0, l, 48, 32);
            in.on(0, stage);
            in.header()[kCostly] = 0x0F;  // the funk raster at 16 bits too
            in.fraction(0, "Plugin_FXid_SplotchesFrequency", 1);
            in.fraction(0, "Plugin_FXid_DustFreq", 1);
            in.fraction(0, "Plugin_FXid_FlickerFreq", 1);
            in.renders(4);
            in.save(folder, count);
        }
    // Every stage, every layout, two instances.
    for (uint8_t l = 0; l < 4; ++l) {
        Input in = module();
        in.header()[kFlags] = 1;
        in.shape(0, l, 40, 30);
        in.shape(1, uint8_t(3 - l), 17, 9);
        in.everyStage(0);
        in.everyStage(1);
        for (int i = 0; i < 3; ++i) {
            in.op(kRender, 0, 0, 0);
            in.op(kRender, 1, 0, 0);
        }
        in.save(folder, count);
    }
    // Frame numbers: both ends, backwards, repeats, jumps.
    for (uint8_t l : {1, 3}) {
        Input in = module();
        in.shape(0, l, 32, 32);
        in.everyStage(0);
        for (uint8_t rule : {4, 1, 5, 0, 2, 3}) in.op(kRender, 0, rule, 0, 0x12345678);
        in.save(folder, count);
    }
    // Faults: refused allocations, failing host calls.
    for (uint16_t at : {1, 3, 9, 30}) {
        Input in = module();
        in.header()[kFault] = kFirstAllocationFault;
        put16(in.header() + kFaultAt, uint16_t(at - 1));
        in.header()[kFaultMore] = at == 9;
        in.shape(0, 1, 32, 24);
        in.everyStage(0);
        in.renders(3);
        in.save(folder, count);
    }
    for (uint16_t at : {3, 40, 150, 600}) {
        Input in = module();
        in.header()[kFault] = kFirstCallFault;
        put16(in.header() + kFaultAt, uint16_t(at - 1));
        in.header()[kFaultMore] = uint8_t(at % 5);
        in.shape(0, 2, 32, 24);
        in.everyStage(0);
        in.renders(3);
        in.save(folder, count);
    }
    // Renders the effect refuses.
    {
        Input in = module();
        in.shape(0, 1, 24, 24);
        in.everyStage(0);
        for (uint8_t kind = 0; kind < 5; ++kind) in.op(kBadRender, 0, kind, kind);
        in.op(kRender, 0, 0, 0);
        in.save(folder, count);
    }
    // Frames longer than the funk raster, and longer than a 16-bit rectangle.
    for (uint8_t size : {kFirstLongRow, uint8_t(kFirstLongColumn + 1)})
        for (uint16_t along : {1, 5000}) {
            Input in = module();
            in.shape(0, along == 1 ? 1 : 2, along, 2, size);
            in.everyStage(0);
            in.renders(3);
            in.save(folder, count);
        }
    // Render scales near 0, 0, negative and huge.
    for (uint8_t preset : {1, 2, 3, 4, 5, 6, 7, 8}) {
        Input in = module();
        in.shape(0, 1, 48, 48);
        in.record(0)[kScaleX] = uint8_t(192 + preset);  // 192 % 12 == 0: presets 1..8
        in.record(0)[kScaleY] = uint8_t(192 + preset);
        in.everyStage(0);
        in.renders(3);
        in.save(folder, count);
    }
    // A cold start with a refused allocation, and one with a failing call.
    for (uint8_t fault : {kFirstAllocationFault, kFirstCallFault}) {
        Input in = module();
        in.header()[kFlags] = 0x3E;
        in.header()[kCostly] = 0xFF;
        in.header()[kFault] = fault;
        put16(in.header() + kFaultAt, 40);
        in.shape(0, 0, 32, 32);
        in.everyStage(0);
        in.renders(2);
        in.save(folder, count);
    }
    // Keyed parameters, a size change between frames, an instance made again.
    {
        Input in = module();
        in.shape(0, 1, 32, 32);
        in.everyStage(0);
        in.op(kRender, 0, 0, 0);
        in.op(kKeyParameter, 0, uint8_t(indexOf("Plugin_FXid_FadeAmount")), 9, fractionBits(0.5));
        in.op(kReshape, 0, 2, 0, 0x0010002F);
        in.op(kRender, 0, 0, 0);
        in.op(kRemake, 0, 0, 0);
        in.op(kRender, 0, 0, 0);
        in.save(folder, count);
    }
    // Sliders far out of range: hostile values, edges and raw doubles.
    for (uint8_t selector : {kFirstHostile, kFirstEdge, kFirstRaw})
        for (uint64_t payload : {uint64_t(0), uint64_t(5), uint64_t(0x7FF8000000000000ull), uint64_t(0xC1E0000000000000ull)}) {
            Input in = module();
            in.shape(0, selector == kFirstEdge ? 2 : 1, 40, 24);
            in.everyStage(0);
            for (int i = 0; i < int(layout().settings); ++i) {
                if (layout().checkbox[size_t(i)]) continue;
                uint8_t* field = in.record(0) + kShapeSize + size_t(i) * kSettingSize;
                field[0] = selector;
                put64(field + 1, payload + uint64_t(i));
            }
            in.renders(3);
            in.save(folder, count);
        }

    // frei0r: a session with every switch on, times that run on, back, get lost and return.
    auto frei0r = [&] { return Input(true, indexOf); };
    {
        Input in = frei0r();
        in.op(kConstruct, 0, 0, 0, 0x0017001F);  // 32 x 24
        for (uint8_t i = 1; i < 18; ++i) in.op(kSetParam, 0, i, 100, 8);  // the value 1
        for (uint8_t a : {0, 0, 70, 100, 120, 0}) in.op(kUpdate, 0, a, 0, 0x1111 * a);
        in.save(folder, count);
    }
    {
        Input in = frei0r();
        in.op(kConstruct, 1, 0, 0, 0x000F000F);
        for (uint8_t i = 1; i < 40; i += 3) in.op(kSetParam, 1, i, 100, 8);
        for (uint64_t t = 0; t < 8; ++t) in.op(kUpdate, 1, 120, uint8_t(t == 3 ? 253 : t), t);
        in.op(kUpdate2, 1, 0, 0);
        in.op(kDestruct, 1, 0, 0);
        in.op(kConstruct, 1, 0, 0, 0x00200007);  // another size mid-stream
        in.op(kUpdate, 1, 0, 254);
        in.op(kUpdate, 1, 0, 255);
        in.save(folder, count);
    }
    // Hostile sizes, parameter indexes and values, plug-in and parameter info.
    {
        Input in = frei0r();
        for (uint8_t a : {200, 201, 240, 241, 244, 247}) {
            in.op(kConstruct, 2, a, 200);
            in.op(kUpdate, 2, 0, 0);
        }
        for (uint8_t a : {232, 233, 234, 235, 236, 237}) {
            in.op(kSetParam, 2, a, 100, 0);
            in.op(kGetParam, 2, a, 0);
            in.op(kParamInfo, 2, a, 0);
        }
        in.op(kPluginInfo, 0, 0, 0);
        in.op(kInitDeinit, 0, 0, 0);
        in.op(kParamInfo, 0, 5, 0);
        in.save(folder, count);
    }
    {
        Input in = frei0r();
        in.op(kConstruct, 0, 0, 0, 0x00070009);
        in.op(kSetParam, 0, 0, 100, 0);  // fps: not a number, then the rest
        for (uint64_t v = 1; v < 8; ++v) in.op(kSetParam, 0, 0, 100, v);
        in.op(kSetParam, 0, 3, 200, 0x7FF0000000000000ull);
        for (uint64_t t = 0; t < 10; ++t) in.op(kUpdate, 0, 120, 0, t);
        in.save(folder, count);
    }
    std::printf("%d seeds written to %s\n", count, folder.c_str());
}

}  // namespace seeds
