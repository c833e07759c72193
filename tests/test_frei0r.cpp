// The frei0r filter: its parameters, the values hosts set arriving in the render settings, the
// frame numbers from the host's time, and tarnix.so driven through its exports.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "TestSupport.h"
#include "params/RenderSettings.h"
#include "refhost/Frei0rParameters.h"
#include "refhost/ParameterCatalog.h"

using namespace refhost;
using namespace testing_support;

namespace {

// The render settings the effect captures from a host's values.
RenderSettings capture(const RegisteredEffect& reg, std::shared_ptr<ParameterValues> values) {
    FrameSetup frame{reg.host.get(), ImageSpec{4, 4}, std::move(values)};
    RenderSettings s;
    std::memset(static_cast<void*>(&s), 0, sizeof s);
    captureSettings(*frame.services, s);
    return s;
}

bool sameRecord(const RenderSettings& a, const RenderSettings& b) {
    for (const SettingField& f : kSettingFields) {
        const size_t size = f.kind == SettingKind::Checkbox ? 1 : f.kind == SettingKind::Integer ? 4 : 8;
        if (std::memcmp(reinterpret_cast<const char*>(&a) + f.offset, reinterpret_cast<const char*>(&b) + f.offset, size) != 0) {
            ADD_FAILURE() << f.name << " differs";
            return false;
        }
    }
    return true;
}

const Parameter& named(const std::vector<Parameter>& catalogue, const std::string& field) {
    for (const Parameter& p : catalogue)
        if (p.field == field) return p;
    throw std::runtime_error("no parameter " + field);
}

const acfUID& hostType(const Parameter& p) {
    return p.kind == ParameterKind::Checkbox ? TYPE_Boolean : p.kind == ParameterKind::Integer ? TYPE_Int32 : TYPE_Double;
}

}  // namespace

// fps, then one parameter per render-settings field in order, booleans for the checkboxes;
// each explanation gives the range and the default.
TEST(Frei0rParameters, NamedAndKindedAsTheSettingsWithRangeAndDefaultExplained) {
    RegisteredEffect reg;
    std::string missing;
    const std::vector<Parameter> catalogue = readParameters(*reg.effect.get(), &missing);
    ASSERT_EQ(catalogue.size(), size_t(kSettingFieldCount)) << missing;
    const std::vector<frei0r::FilterParameter> parameters = frei0r::filterParameters(catalogue);
    ASSERT_EQ(parameters.size(), size_t(kSettingFieldCount) + 1);
    EXPECT_EQ(parameters[0].name, "fps");
    EXPECT_FALSE(parameters[0].boolean);
    EXPECT_EQ(parameters[0].defaultValue, 25.0);
    for (int i = 0; i < kSettingFieldCount; ++i) {
        EXPECT_EQ(parameters[i + 1].name, kSettingFields[i].name);
        EXPECT_EQ(parameters[i + 1].boolean, kSettingFields[i].kind == SettingKind::Checkbox) << kSettingFields[i].name;
    }

    auto explained = [&](const char* field) {
        for (const frei0r::FilterParameter& p : parameters)
            if (p.name == field) return p.explanation;
        return std::string();
    };
    // By hand: (27 - -100) / 200 = 0.635; (100 - 0) / 200 = 0.5; (82 - 0) / 255.
    EXPECT_NE(explained("contrastAmount").find("onto -100..100, rounded to a whole number; default 27 (0.635)"), std::string::npos)
        << explained("contrastAmount");
    EXPECT_NE(explained("fadeAmount").find("Amount (Fade): 0..1 maps linearly onto 0..200"), std::string::npos);
    EXPECT_NE(explained("deepScratchColorR").find("Red (Deep Scratches > Color): 0..1 maps linearly onto 0..255; default 82"),
              std::string::npos) << explained("deepScratchColorR");
    EXPECT_NE(explained("doColorNoise").find("default on"), std::string::npos);
    EXPECT_NE(explained("doDust").find("default off"), std::string::npos);
}

// A filter value reaches the settings as the effect's own host gives the slider position it
// stands for.
TEST(Frei0rParameters, ValuesArriveInTheSettingsAsTheEffectsOwnHostGivesThem) {
    RegisteredEffect reg;
    const std::vector<Parameter> catalogue = readParameters(*reg.effect.get(), nullptr);
    ASSERT_FALSE(catalogue.empty());
    struct Case {
        const char* field;
        double filterValue;
        double hostValue;  // in the parameter's own units
    };
    const Case cases[] = {
        {"doDust", 1, 1},                        // checkboxes: on from 0.5
        {"doColorNoise", 0.49, 0},               // its default is on
        {"doInvert", 0.5, 1},
        {"blackNumber", 0.5, 500},               // 0 + 0.5 x 1000
        {"whiteNumber", 0.0015, 2},              // 1.5: halves away from zero
        {"contrastAmount", 0.2475, -51},         // -100 + 49.5 = -50.5, away from zero
        {"flickerAmount", 0.123, 12},            // 12.3
        {"deepScratchDuration", 0, 1},           // the range's ends exactly
        {"basicScratchDuration", 1, 240},
        {"deepScratchNumber", 1.7, 50},          // held to the range
        {"basicScratchNumber", -3, 0},
        {"vignetteSize", 0.5, 50.5},             // 1 + 0.5 x 99
        {"splotchesScale", 1, 5},
        {"deepScratchColorR", 0.5, 127.5},       // 0.5 x 255, divided by 255 in the settings
        {"dustOpacity", 0.3, 0.3},
        {"gateweaveFrequency", 0.25, 0.5},       // 0.25 x 2
    };
    auto throughFilter = reg.defaults();
    auto throughOwnHost = reg.defaults();
    for (const Case& c : cases) {
        const Parameter& p = named(catalogue, c.field);
        frei0r::applyFilterValue(*throughFilter, p, c.filterValue);
        throughOwnHost->set(p.uid, hostType(p), c.hostValue);
    }
    // Every field of the record, those the host had not set among them.
    EXPECT_TRUE(sameRecord(capture(reg, throughFilter), capture(reg, throughOwnHost)));
}

// Every filter default set through the filter gives the effect's own defaults.
TEST(Frei0rParameters, FilterDefaultsArriveAsTheEffectsDefaults) {
    RegisteredEffect reg;
    const std::vector<Parameter> catalogue = readParameters(*reg.effect.get(), nullptr);
    ASSERT_FALSE(catalogue.empty());
    auto values = reg.defaults();
    for (const frei0r::FilterParameter& f : frei0r::filterParameters(catalogue))
        if (f.setting) frei0r::applyFilterValue(*values, *f.setting, f.defaultValue);
    EXPECT_TRUE(sameRecord(capture(reg, values), capture(reg, reg.defaults())));
}

// frame = round(time x fps) for times in seconds or milliseconds however a host rounds k / rate;
// an fps that is no positive number is 25; a lost timestamp is no usable time.
TEST(Frei0rTime, FrameIsTheTimeTimesFpsRounded) {
    for (int k = -500; k <= 20000; ++k) {
        ASSERT_EQ(frei0r::frameAt(k / 25.0, 25), k);
        ASSERT_EQ(frei0r::frameAt(k * 0.04, 25), k);
        ASSERT_EQ(frei0r::frameAt(k * 40.0, 25 / 1000.0), k);
        ASSERT_EQ(frei0r::frameAt(k * 1001.0 / 30000.0, 30000.0 / 1001.0), k);
        ASSERT_EQ(frei0r::frameAt(k * 1001.0 / 30.0, 30 / 1001.0), k);
        ASSERT_EQ(frei0r::frameAt(k / 24.0, 24), k);
        ASSERT_TRUE(frei0r::usableTime(k * 1001.0 / 30.0));
    }
    EXPECT_FALSE(frei0r::usableTime(double(INT64_MIN) / 1000 * 1000));  // a lost timestamp, 1/1000 s units
    EXPECT_FALSE(frei0r::usableTime(double(INT64_MIN) / 25 * 1000));
    EXPECT_FALSE(frei0r::usableTime(double(INT64_MIN) / 90000 * 1000));
    EXPECT_FALSE(frei0r::usableTime(NAN));
    EXPECT_FALSE(frei0r::usableTime(INFINITY));
    EXPECT_TRUE(frei0r::usableTime(24 * 3600 * 1000.0 * 365));  // a year, in milliseconds
    EXPECT_EQ(frei0r::frameAt(0.5, 25), 13);     // 12.5, half away from zero
    EXPECT_EQ(frei0r::frameAt(-0.5, 25), -13);
    EXPECT_EQ(frei0r::frameAt(0.019, 25), 0);    // 0.475
    EXPECT_EQ(frei0r::frameAt(2, 0), 50);        // fps 0 is 25
    EXPECT_EQ(frei0r::frameAt(2, -1), 50);
    EXPECT_EQ(frei0r::frameAt(2, NAN), 50);
    EXPECT_EQ(frei0r::frameAt(NAN, 25), 0);
    EXPECT_EQ(frei0r::frameAt(1e300, 25), INT32_MAX);
    EXPECT_EQ(frei0r::frameAt(-1e300, 25), INT32_MIN);
}

namespace {

// tarnix.so opened as a frei0r host opens it.
struct Frei0rLibrary {
    void* library = nullptr;
    int (*init)() = nullptr;
    void (*deinit)() = nullptr;
    void (*pluginInfo)(f0r_plugin_info_t*) = nullptr;
    void (*paramInfo)(f0r_param_info_t*, int) = nullptr;
    f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
    void (*destruct)(f0r_instance_t) = nullptr;
    void (*setParam)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*getParam)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;

    Frei0rLibrary() {
        library = ::dlopen(TARNIX_FREI0R_FILTER, RTLD_NOW | RTLD_LOCAL);
        if (!library) return;
        init = reinterpret_cast<decltype(init)>(::dlsym(library, "f0r_init"));
        deinit = reinterpret_cast<decltype(deinit)>(::dlsym(library, "f0r_deinit"));
        pluginInfo = reinterpret_cast<decltype(pluginInfo)>(::dlsym(library, "f0r_get_plugin_info"));
        paramInfo = reinterpret_cast<decltype(paramInfo)>(::dlsym(library, "f0r_get_param_info"));
        construct = reinterpret_cast<decltype(construct)>(::dlsym(library, "f0r_construct"));
        destruct = reinterpret_cast<decltype(destruct)>(::dlsym(library, "f0r_destruct"));
        setParam = reinterpret_cast<decltype(setParam)>(::dlsym(library, "f0r_set_param_value"));
        getParam = reinterpret_cast<decltype(getParam)>(::dlsym(library, "f0r_get_param_value"));
        update = reinterpret_cast<decltype(update)>(::dlsym(library, "f0r_update"));
    }
    bool complete() const {
        return init && deinit && pluginInfo && paramInfo && construct && destruct && setParam && getParam && update;
    }
    int indexOf(const std::string& name) const {
        f0r_plugin_info_t info{};
        pluginInfo(&info);
        for (int i = 0; i < info.num_params; ++i) {
            f0r_param_info_t p{};
            paramInfo(&p, i);
            if (name == p.name) return i;
        }
        return -1;
    }
    void set(f0r_instance_t instance, const std::string& name, double value) const {
        const int index = indexOf(name);
        ASSERT_GE(index, 0) << name;
        setParam(instance, &value, index);
    }
};

// Opened and started once for the whole run, so that the module stays loaded between tests.
const Frei0rLibrary& frei0rLibrary() {
    static const Frei0rLibrary library = [] {
        Frei0rLibrary opened;
        ::setenv("TARNIX_MODULE", TARNIX_MODULE_PATH, 1);
        if (opened.complete()) opened.init();
        return opened;
    }();
    return library;
}

// An RGBA test card with a gradient and opaque and translucent pixels.
std::vector<uint32_t> testFrame(unsigned w, unsigned h) {
    std::vector<uint32_t> frame(size_t(w) * h);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            const uint32_t r = (x * 255) / (w - 1), g = (y * 255) / (h - 1), b = (x * 7 + y * 13) & 255, a = (x + y) % 5 ? 255 : 128;
            const uint8_t bytes[4] = {uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(a)};
            std::memcpy(&frame[size_t(y) * w + x], bytes, 4);
        }
    return frame;
}

class Frei0rFilter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.library) << ::dlerror();
        ASSERT_TRUE(lib.complete());
        ::setenv("TARNIX_MODULE", TARNIX_MODULE_PATH, 1);
        ASSERT_EQ(lib.init(), 1);
    }
    void TearDown() override {
        if (lib.deinit) lib.deinit();
        ::unsetenv("TARNIX_MODULE");
    }
    const Frei0rLibrary& lib = frei0rLibrary();
    static constexpr unsigned kWidth = 40, kHeight = 24;
    // Dust on every frame reseeds the generator from the frame number, so the scratches' draws
    // do not depend on another instance's.
    void scratched(f0r_instance_t instance, bool deep) const {
        for (const auto& [name, value] : {std::pair{"doDust", 1.0}, {"dustFreq", 1.0}, {"doBasicScratch", 1.0},
                                          {"basicScratchNumber", 0.2}, {"basicScratchDuration", 0.01}})
            lib.set(instance, name, value);
        if (deep)
            for (const auto& [name, value] : {std::pair{"doDeepScratch", 1.0}, {"deepScratchNumber", 0.1}, {"deepScratchDuration", 0.01}})
                lib.set(instance, name, value);
    }
};

}  // namespace

// An RGBA filter with fps and the settings as parameters, each instance at the defaults,
// values read back as set.
TEST_F(Frei0rFilter, DescribesItselfAndKeepsItsValues) {
    f0r_plugin_info_t info{};
    lib.pluginInfo(&info);
    EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
    EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
    EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
    ASSERT_EQ(info.num_params, kSettingFieldCount + 1);
    for (int i = 0; i < info.num_params; ++i) {
        f0r_param_info_t p{};
        lib.paramInfo(&p, i);
        const bool checkbox = i > 0 && kSettingFields[i - 1].kind == SettingKind::Checkbox;
        EXPECT_STREQ(p.name, i > 0 ? kSettingFields[i - 1].name : "fps");
        EXPECT_EQ(p.type, checkbox ? F0R_PARAM_BOOL : F0R_PARAM_DOUBLE) << p.name;
        EXPECT_GT(std::strlen(p.explanation), 20u) << p.name;
    }

    f0r_instance_t a = lib.construct(kWidth, kHeight);
    f0r_instance_t b = lib.construct(kWidth, kHeight);
    ASSERT_TRUE(a && b);
    auto get = [&](f0r_instance_t instance, const char* name) {
        double v = -1;
        lib.getParam(instance, &v, lib.indexOf(name));
        return v;
    };
    // By hand: (48 - 1) / 239, (40 - 1) / 99, (27 + 100) / 200.
    EXPECT_EQ(get(a, "doDust"), 0.0);
    EXPECT_EQ(get(a, "doColorNoise"), 1.0);
    EXPECT_DOUBLE_EQ(get(a, "deepScratchDuration"), 47.0 / 239.0);
    EXPECT_DOUBLE_EQ(get(a, "vignetteSize"), 39.0 / 99.0);
    EXPECT_DOUBLE_EQ(get(a, "contrastAmount"), 0.635);
    EXPECT_EQ(get(a, "fps"), 25.0);
    lib.set(a, "blackNumber", 0.123);
    lib.set(a, "fps", 29.97);
    EXPECT_EQ(get(a, "blackNumber"), 0.123);
    EXPECT_EQ(get(a, "fps"), 29.97);
    EXPECT_EQ(get(b, "blackNumber"), 0.005);  // the other instance keeps its own
    lib.destruct(a);
    lib.destruct(b);
}

// Unchanged with every stage off; changed with one on, the source left alone.
TEST_F(Frei0rFilter, RendersUnchangedUntilAStageIsOn) {
    const std::vector<uint32_t> in = testFrame(kWidth, kHeight);
    std::vector<uint32_t> out(in.size(), 0xDEADBEEF);
    f0r_instance_t instance = lib.construct(kWidth, kHeight);
    ASSERT_TRUE(instance);
    for (int frame = 0; frame < 3; ++frame) {
        lib.update(instance, frame / 25.0, in.data(), out.data());
        EXPECT_EQ(out, in) << "frame " << frame;
    }
    // One rising curve for every channel: red stays above or below blue as it was.
    lib.set(instance, "doContrast", 1);
    lib.set(instance, "contrastAmount", 1);
    lib.update(instance, 3 / 25.0, in.data(), out.data());
    EXPECT_NE(out, in);
    EXPECT_EQ(in, testFrame(kWidth, kHeight));
    int reordered = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        uint8_t before[4], after[4];
        std::memcpy(before, &in[i], 4);
        std::memcpy(after, &out[i], 4);
        if ((before[0] > before[2] && after[0] < after[2]) || (before[0] < before[2] && after[0] > after[2])) ++reordered;
    }
    EXPECT_EQ(reordered, 0);
    lib.destruct(instance);
}

// Instances rendering the same frames in turn each give what one alone gives.
TEST_F(Frei0rFilter, InstancesKeepTheirOwnScratches) {
    const std::vector<uint32_t> in = testFrame(kWidth, kHeight);
    f0r_instance_t alone = lib.construct(kWidth, kHeight);
    f0r_instance_t first = lib.construct(kWidth, kHeight);
    f0r_instance_t second = lib.construct(kWidth, kHeight);
    ASSERT_TRUE(alone && first && second);
    for (f0r_instance_t i : {alone, first, second}) scratched(i, true);
    std::vector<uint32_t> expected(in.size()), a(in.size()), b(in.size());
    bool changed = false;
    for (int frame = 0; frame < 12; ++frame) {
        lib.update(alone, frame / 25.0, in.data(), expected.data());
        lib.update(first, frame / 25.0, in.data(), a.data());
        lib.update(second, frame / 25.0, in.data(), b.data());
        EXPECT_EQ(a, expected) << "frame " << frame;
        EXPECT_EQ(b, expected) << "frame " << frame;
        changed = changed || expected != in;
    }
    EXPECT_TRUE(changed);
    for (f0r_instance_t i : {alone, first, second}) lib.destruct(i);
}

// Seconds at 25 fps and milliseconds at 0.025 give the same frames; frames without a usable
// time are counted on from the last.
TEST_F(Frei0rFilter, FramesFollowTheTimeOrAreCounted) {
    const std::vector<uint32_t> in = testFrame(kWidth, kHeight);
    f0r_instance_t seconds = lib.construct(kWidth, kHeight);
    f0r_instance_t milliseconds = lib.construct(kWidth, kHeight);
    f0r_instance_t lost = lib.construct(kWidth, kHeight);
    f0r_instance_t late = lib.construct(kWidth, kHeight);
    ASSERT_TRUE(seconds && milliseconds && lost && late);
    for (f0r_instance_t i : {seconds, milliseconds, lost, late}) scratched(i, false);
    lib.set(milliseconds, "fps", 0.025);
    std::vector<uint32_t> expected(in.size()), got(in.size()), previous(in.size());
    for (int frame = 0; frame < 8; ++frame) {
        lib.update(seconds, frame / 25.0, in.data(), expected.data());
        lib.update(milliseconds, frame * 40.0, in.data(), got.data());
        EXPECT_EQ(got, expected) << "frame " << frame;
        lib.update(lost, double(INT64_MIN) / 1000 * 1000, in.data(), got.data());
        EXPECT_EQ(got, expected) << "frame " << frame;
        if (frame > 0) {
            EXPECT_NE(expected, previous);  // each frame has its own dust
        }
        previous = expected;
    }
    // Timed frames 0..3, then lost ones: 4, 5, ... as if timed.
    for (int frame = 0; frame < 8; ++frame)
        lib.update(late, frame < 4 ? frame / 25.0 : double(INT64_MIN) / 25 * 1000, in.data(), got.data());
    EXPECT_EQ(got, expected);
    for (f0r_instance_t i : {seconds, milliseconds, lost, late}) lib.destruct(i);
}

// A frame without pixels is not rendered, however many rows it claims (the fuzzer's 0 x
// 4294967295 frame walked its rows for minutes).
TEST_F(Frei0rFilter, AFrameWithoutPixelsIsNotRendered) {
    for (const auto& [width, height] : {std::pair{0u, 0xFFFFFFFFu}, std::pair{0u, 0u}, std::pair{1u, 0u}}) {
        const auto began = std::chrono::steady_clock::now();
        f0r_instance_t instance = lib.construct(width, height);
        ASSERT_NE(instance, nullptr);
        double on = 1;
        lib.setParam(instance, &on, 0);
        const uint32_t in = 0x11223344u;
        uint32_t out = 0xA5A5A5A5u;
        lib.update(instance, 0, &in, &out);
        EXPECT_EQ(out, 0xA5A5A5A5u) << width << " x " << height;
        lib.destruct(instance);
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(), 5.0)
            << width << " x " << height;
    }
}

// Without a module: one line on stderr, no parameters, frames pass through. In a child
// process, as the leak checker trips over a module unloaded in this one.
TEST_F(Frei0rFilter, WithoutTheModuleFramesPassThrough) {
    auto withoutModule = [&] {
        lib.deinit();  // SetUp's
        lib.deinit();  // the one held for the whole run
        ::setenv("TARNIX_MODULE", "/nonexistent/TarnixAVX2.avx", 1);
        // What the filter says, caught apart from what the death test catches.
        std::FILE* caught = std::tmpfile();
        const int stderrFd = ::dup(2);
        ::dup2(::fileno(caught), 2);
        const int status = lib.init();
        f0r_instance_t instance = lib.construct(kWidth, kHeight);
        const std::vector<uint32_t> in = testFrame(kWidth, kHeight);
        std::vector<uint32_t> out(in.size(), 0);
        if (instance) {
            double on = 1;
            lib.setParam(instance, &on, 0);
            lib.update(instance, 0, in.data(), out.data());
            lib.update(instance, 0.04, in.data(), out.data());
        }
        std::fflush(stderr);
        ::dup2(stderrFd, 2);
        std::string said(size_t(std::ftell(caught)), '\0');
        std::rewind(caught);
        said.resize(std::fread(said.data(), 1, said.size(), caught));
        f0r_plugin_info_t info{};
        lib.pluginInfo(&info);
        std::string problems;
        if (status != 0) problems += "f0r_init did not report the failure; ";
        if (!instance) problems += "no instance; ";
        if (out != in) problems += "the frame did not pass through; ";
        if (info.num_params != 0) problems += "parameters without a module; ";
        if (said.find("/nonexistent/TarnixAVX2.avx") == std::string::npos ||
            std::count(said.begin(), said.end(), '\n') != 1)
            problems += "not one line naming the module: " + said;
        if (instance) lib.destruct(instance);
        lib.deinit();
        std::fprintf(stderr, "%s", problems.c_str());
        return problems.empty() ? 0 : 1;
    };
    EXPECT_EXIT(::_exit(withoutModule()), ::testing::ExitedWithCode(0), "");
}
