#include "fuzz/Frei0rTarget.h"

#include <dlfcn.h>

extern "C" {
#include <frei0r.h>
}

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"

using namespace fuzzinput;

namespace frei0rTarget {

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz_module (frei0r): %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

struct Entries {
    int (*init)();
    void (*deinit)();
    void (*pluginInfo)(f0r_plugin_info_t*);
    void (*paramInfo)(f0r_param_info_t*, int);
    f0r_instance_t (*construct)(unsigned, unsigned);
    void (*destruct)(f0r_instance_t);
    void (*setParam)(f0r_instance_t, f0r_param_t, int);
    void (*getParam)(f0r_instance_t, f0r_param_t, int);
    void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*);
    void (*update2)(f0r_instance_t, double, const uint32_t*, const uint32_t*, const uint32_t*, uint32_t*);
};

Entries gF{};
bool gLoaded = false;
int gParams = 0;
// Per parameter, the most a value may be: the counts and sizes the stages loop over are held
// to a few (in the filter's 0..1), as the module target holds them; the filter's own mapping
// is the same code for every slider, so it still meets infinities and huge values elsewhere.
std::vector<double> gCaps;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// The largest frame the host side gives buffers for; larger instances are made, never fed.
constexpr uint64_t kMostPixels = uint64_t(1) << 18;
constexpr size_t kGuardWords = 16;
constexpr uint32_t kGuard = 0xA5C3E1F0u;

// One frei0r instance with the host's own frame buffers, guard words around them.
struct Slot {
    f0r_instance_t handle = nullptr;
    unsigned width = 0, height = 0;
    bool fed = false;  // buffers exist
    std::vector<uint32_t> in, out;
    std::vector<double> values;  // what the host set, as it must read back
    double time = 0;

    uint32_t* inPixels() { return in.data() + kGuardWords; }
    uint32_t* outPixels() { return out.data() + kGuardWords; }
};

unsigned sideOf(uint8_t selector, uint16_t raw) {
    static const unsigned small[] = {0, 1, 2, 3, 5, 7, 17, 33};
    static const unsigned large[] = {2049, 40000, 65535, 65536, 1u << 29, 1u << 30, 0x80000000u, 0xFFFFFFFFu};
    if (selector < 200) return 1 + raw % 64;
    if (selector < 240) return small[selector % 8];
    return large[selector % 8];
}

int indexOf(uint8_t selector, uint32_t raw) {
    if (selector < 232) return gParams > 0 ? int(selector % gParams) : 0;
    const int hostile[] = {-1, gParams, gParams + 1, std::numeric_limits<int>::max(), std::numeric_limits<int>::min(),
                           int(raw)};
    return hostile[selector % 6];
}

double valueOf(uint8_t selector, const Reader& op) {
    static const double values[] = {kNaN, -kNaN, kInf, -kInf, 1e308, -1e308, 0.5, 0, 1, -0.0, 1e-310, 2, -1, 1e9,
                                    25, 1000, 0.001, 4.9e-324};
    const uint64_t bits = op.u64(kOpPayload);
    if (selector < 96) return double(bits >> 11) * 0x1.0p-53;
    if (selector < 176) return values[bits % (sizeof values / sizeof values[0])];
    return op.f64(kOpPayload);
}

double timeOf(uint8_t selector, const Reader& op, double last) {
    static const double times[] = {kNaN,   -kNaN,  kInf,  -kInf,        0,        -0.0,   1e308,
                                   -1e308, 0x1p63, 9.3e18, -9.3e18,     1e-300,   3600,   -1,
                                   86400e3, 2147483647.0 / 25, -2147483648.0 / 25, 1e15};
    if (selector < 64) return last + 0.04;
    if (selector < 96) return last - 0.04;
    if (selector < 112) return last;
    if (selector < 176) return times[op.u64(kOpPayload) % (sizeof times / sizeof times[0])];
    return op.f64(kOpPayload);
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void destroy(Slot& s) {
    if (s.handle) gF.destruct(s.handle);
    s = Slot{};
}

void construct(Slot& s, const Reader& op) {
    destroy(s);
    s.width = sideOf(op.at(kOpA), op.u16(kOpPayload));
    s.height = sideOf(op.at(kOpB), op.u16(kOpPayload + 2));
    const uint64_t pixels = uint64_t(s.width) * s.height;
    // A host has the frame's memory before it makes an instance for it: sizes no host could
    // hold are not asked for, those with no pixels at all are.
    if (pixels > kMostPixels) return;
    s.handle = gF.construct(s.width, s.height);
    if (!s.handle) fail("no instance for " + std::to_string(s.width) + " x " + std::to_string(s.height));
    s.fed = true;
    s.in.assign(pixels + 2 * kGuardWords, kGuard);
    s.out.assign(pixels + 2 * kGuardWords, kGuard);
    s.values.assign(size_t(gParams), 0.0);
    for (int i = 0; i < gParams; ++i) gF.getParam(s.handle, &s.values[size_t(i)], i);
}

bool guardsIntact(const std::vector<uint32_t>& buffer) {
    for (size_t i = 0; i < kGuardWords; ++i)
        if (buffer[i] != kGuard || buffer[buffer.size() - 1 - i] != kGuard) return false;
    return true;
}

void update(Slot& s, const Reader& op, bool second) {
    const uint8_t a = op.at(kOpA), b = op.at(kOpB);
    const double time = timeOf(a, op, s.time);
    if (!std::isnan(time)) s.time = time;
    if (!s.handle || !s.fed) {
        // No instance, or one too large to feed: the calls must return without touching anything.
        if (second) gF.update2(s.handle, time, nullptr, nullptr, nullptr, nullptr);
        else gF.update(s.handle, time, nullptr, nullptr);
        return;
    }
    const size_t pixels = size_t(s.width) * s.height;
    uint32_t seed = op.u32(kOpPayload) | 1u;
    for (size_t i = 0; i < pixels; ++i) {
        seed = seed * 1664525u + 1013904223u;
        s.inPixels()[i] = seed;
    }
    const std::vector<uint32_t> before = s.in;
    const uint32_t* in = b == 255 ? nullptr : s.inPixels();
    uint32_t* out = b == 254 ? nullptr : s.outPixels();
    if (b == 253) out = s.inPixels();  // the host renders in place
    if (second) gF.update2(s.handle, time, in, nullptr, nullptr, out);
    else gF.update(s.handle, time, in, out);
    if (!guardsIntact(s.in) || !guardsIntact(s.out)) fail("an update wrote outside the frame");
    if (b != 253 && s.in != before) fail("an update wrote the input frame");
}

void setParam(Slot& s, const Reader& op) {
    const int index = indexOf(op.at(kOpA), op.u32(kOpPayload));
    double value = valueOf(op.at(kOpB), op);
    if (index >= 0 && index < gParams && value > gCaps[size_t(index)]) value = gCaps[size_t(index)];
    gF.setParam(s.handle, s.handle ? &value : nullptr, index);
    if (!s.handle) return;
    gF.setParam(s.handle, nullptr, index);
    if (index < 0 || index >= gParams) return;
    if (!std::isnan(value)) s.values[size_t(index)] = value;
    double read = -12345;
    gF.getParam(s.handle, &read, index);
    if (!sameBits(read, s.values[size_t(index)]))
        fail("parameter " + std::to_string(index) + " reads back as another value");
}

void getParam(Slot& s, const Reader& op) {
    const int index = indexOf(op.at(kOpA), op.u32(kOpPayload));
    double read = -12345;
    gF.getParam(s.handle, &read, index);
    const bool valid = s.handle && index >= 0 && index < gParams;
    if (valid ? !sameBits(read, s.values[size_t(index)]) : read != -12345)
        fail("parameter " + std::to_string(index) + " read wrongly");
}

void paramInfo(const Reader& op) {
    const int index = indexOf(op.at(kOpA), op.u32(kOpPayload));
    f0r_param_info_t info{};
    gF.paramInfo(&info, index);
    gF.paramInfo(nullptr, index);
    if (!info.name || !info.explanation) fail("parameter info without a name or an explanation");
    const bool valid = index >= 0 && index < gParams;
    if (valid && (!*info.name || (info.type != F0R_PARAM_BOOL && info.type != F0R_PARAM_DOUBLE)))
        fail("parameter " + std::to_string(index) + " has no name or another type");
    if (!valid && *info.name) fail("parameter " + std::to_string(index) + " has a name");
}

template <class T>
T symbol(void* library, const char* name) {
    void* s = ::dlsym(library, name);
    if (!s) fail(std::string("the filter has no ") + name);
    return reinterpret_cast<T>(s);
}

}  // namespace

void load(const char* filter, const char* module) {
    ::setenv("TARNIX_MODULE", module, 1);
    void* library = ::dlopen(filter, RTLD_NOW | RTLD_LOCAL);
    if (!library) fail(std::string("cannot load ") + filter + ": " + ::dlerror());
    gF.init = symbol<decltype(gF.init)>(library, "f0r_init");
    gF.deinit = symbol<decltype(gF.deinit)>(library, "f0r_deinit");
    gF.pluginInfo = symbol<decltype(gF.pluginInfo)>(library, "f0r_get_plugin_info");
    gF.paramInfo = symbol<decltype(gF.paramInfo)>(library, "f0r_get_param_info");
    gF.construct = symbol<decltype(gF.construct)>(library, "f0r_construct");
    gF.destruct = symbol<decltype(gF.destruct)>(library, "f0r_destruct");
    gF.setParam = symbol<decltype(gF.setParam)>(library, "f0r_set_param_value");
    gF.getParam = symbol<decltype(gF.getParam)>(library, "f0r_get_param_value");
    gF.update = symbol<decltype(gF.update)>(library, "f0r_update");
    gF.update2 = symbol<decltype(gF.update2)>(library, "f0r_update2");
    // Held for the whole run, so that no input unloads the module the module target shares.
    if (gF.init() != 1) fail("f0r_init failed");
    f0r_plugin_info_t info{};
    gF.pluginInfo(&info);
    gParams = info.num_params;
    if (gParams < 2) fail("the filter shows no parameters");
    static const std::pair<const char*, double> costly[] = {
        {"splotchNumber", 0.06}, {"splotchesScale", 0.39},   {"blackNumber", 0.012},     {"whiteNumber", 0.012},
        {"microNumber", 0.08},   {"deepScratchNumber", 0.08}, {"basicScratchNumber", 0.16}};
    gCaps.assign(size_t(gParams), kInf);
    size_t found = 0;
    for (int i = 0; i < gParams; ++i) {
        f0r_param_info_t p{};
        gF.paramInfo(&p, i);
        for (const auto& [name, cap] : costly)
            if (std::strcmp(p.name, name) == 0) {
                gCaps[size_t(i)] = cap;
                ++found;
            }
    }
    if (found != sizeof costly / sizeof costly[0]) fail("the filter's parameters are not named as expected");
    gLoaded = true;
}

void run(const uint8_t* data, size_t size) {
    if (!gLoaded) return;
    const Reader in(data, size);
    // As a host that loads the filter for a while: the module stays open, as another user
    // holds it.
    if (gF.init() != 1) fail("f0r_init failed");
    Slot slots[kFrei0rSlots];
    for (int n = 0; n < kMostFrei0rOperations; ++n) {
        const size_t at = kHeaderSize + size_t(n) * kOperationSize;
        if (at >= size) break;
        const Reader op = in.record(at, kOperationSize);
        Slot& s = slots[op.at(kOpSubject) % kFrei0rSlots];
        switch (frei0rOp(op.at(kOpKind))) {
        case kConstruct: construct(s, op); break;
        case kDestruct: destroy(s); break;
        case kSetParam: setParam(s, op); break;
        case kGetParam: getParam(s, op); break;
        case kUpdate: update(s, op, false); break;
        case kUpdate2: update(s, op, true); break;
        case kParamInfo: paramInfo(op); break;
        case kPluginInfo: {
            f0r_plugin_info_t info{};
            gF.pluginInfo(&info);
            gF.pluginInfo(nullptr);
            if (info.num_params != gParams || !info.name) fail("the plug-in info changed");
            break;
        }
        case kInitDeinit:
            if (gF.init() != 1) fail("f0r_init failed");
            gF.deinit();
            break;
        }
    }
    for (Slot& s : slots) destroy(s);
    gF.deinit();
}

}  // namespace frei0rTarget
