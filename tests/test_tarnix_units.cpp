// tarnix's own parts: the parameter names against what the module registers, value and key
// parsing, presets, the 16-bit conversion, frame spans, output planning and the safe output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "apps/tarnix/Failure.h"
#include "apps/tarnix/Media.h"
#include "apps/tarnix/ModuleHost.h"
#include "apps/tarnix/PixelPacking.h"
#include "apps/tarnix/Presets.h"
#include "apps/tarnix/Render.h"
#include "apps/tarnix/SafeOutput.h"

using namespace tarnix;

namespace {

// One registration for the whole program: loading is cheap, but the catalogue is shared.
ModuleHost& host() {
    static ModuleHost h(TARNIX_MODULE_PATH);
    return h;
}
const ParameterCatalog& catalog() { return host().catalog(); }

// The message of the Failure that `f` throws, with its code.
template <class F>
std::pair<Exit, std::string> failureOf(F f) {
    try {
        f();
    } catch (const Failure& e) {
        return {e.code(), e.what()};
    }
    return {Exit::Ok, ""};
}

std::string makeTempDir() {
    char pattern[] = "/tmp/tarnix-units-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    EXPECT_NE(dir, nullptr);
    return dir ? dir : "/tmp";
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

}  // namespace

TEST(TarnixParameters, OurNamesAreExactlyTheParametersTheModuleRegisters) {
    const auto& all = catalog().all();
    ASSERT_EQ(all.size(), 52u) << "one name per value-bearing parameter";
    EXPECT_EQ(host().session().effect()->parameters.size(), all.size());
    std::set<std::string> typed;
    for (const Parameter& p : all) {
        // Every typed form finds this parameter and no other.
        for (const std::string& name : {p.field, p.shortName, p.identifier}) {
            std::string lower = name;
            for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_EQ(catalog().find(lower), &p) << name;
            typed.insert(lower);
        }
        // Stage switches and the two inner checkboxes are the "do" fields.
        EXPECT_EQ(p.kind == ParameterKind::Checkbox, p.field.rfind("do", 0) == 0) << p.field;
    }
    EXPECT_EQ(catalog().find("Plugin_FXid_"), nullptr);
    EXPECT_EQ(catalog().find("nothing"), nullptr);
}

TEST(TarnixParameters, LabelsGroupsKindsAndRangesComeFromTheRegistration) {
    // Expectations from the effect's published parameter table.
    const Parameter* fade = catalog().find("fadeAmount");
    ASSERT_TRUE(fade);
    EXPECT_EQ(fade->label, "Amount");
    EXPECT_EQ(fade->group, "Fade");
    EXPECT_EQ(fade->kind, ParameterKind::Integer);
    EXPECT_EQ(fade->defaultValue, 100);
    EXPECT_EQ(fade->minimum, 0);
    EXPECT_EQ(fade->maximum, 200);

    const Parameter* red = catalog().find("grainRed");
    ASSERT_TRUE(red);
    EXPECT_EQ(red->shortName, "Red");
    EXPECT_EQ(red->group, "Grain");
    EXPECT_EQ(red->kind, ParameterKind::Number);
    EXPECT_DOUBLE_EQ(red->defaultValue, 28.22);

    const Parameter* channel = catalog().find("deepScratchColorG");
    ASSERT_TRUE(channel);
    EXPECT_EQ(channel->label, "Green");
    EXPECT_EQ(channel->group, "Deep Scratches > Color") << "colour channels sit in the colour's own group";
    EXPECT_EQ(channel->defaultValue, 255);
    EXPECT_EQ(channel->maximum, 255);

    const Parameter* contrast = catalog().find("ContrastAmount");
    ASSERT_TRUE(contrast);
    EXPECT_EQ(contrast->minimum, -100);
    const Parameter* invert = catalog().find("doInvert");
    ASSERT_TRUE(invert);
    EXPECT_EQ(invert->group, "Basic Scratches");
    EXPECT_EQ(invert->defaultValue, 1);
    const Parameter* dust = catalog().find("DODUST");
    ASSERT_TRUE(dust);
    EXPECT_EQ(dust->label, "Apply Dust");
    EXPECT_EQ(dust->group, "");
}

TEST(TarnixParameters, ValuesKeysAndTheirErrors) {
    Setting s = parseSetting(catalog(), "doDust=on");
    EXPECT_EQ(s.parameter->field, "doDust");
    EXPECT_FALSE(s.keyed);
    EXPECT_EQ(s.keys.front().second, 1);
    for (const char* off : {"off", "FALSE", "no", "0"}) EXPECT_EQ(parseSetting(catalog(), "dodust", off).keys.front().second, 0);
    EXPECT_EQ(parseSetting(catalog(), "Amplitude = 7.5").keys.front().second, 7.5);
    EXPECT_EQ(parseSetting(catalog(), "contrastAmount=-100").keys.front().second, -100);

    // Keys come back sorted by frame, and print as they are typed.
    s = parseSetting(catalog(), "fadeAmount=200@9, 0@0,50@3");
    ASSERT_TRUE(s.keyed);
    ASSERT_EQ(s.keys.size(), 3u);
    EXPECT_EQ(s.keys[0], (std::pair<double, double>{0, 0}));
    EXPECT_EQ(s.keys[2], (std::pair<double, double>{9, 200}));
    EXPECT_EQ(formatSetting(s), "0@0,50@3,200@9");

    auto [code, message] = failureOf([] { parseSetting(catalog(), "fadeAmout=3"); });
    EXPECT_EQ(code, Exit::Usage);
    EXPECT_NE(message.find("unknown parameter \"fadeAmout\""), std::string::npos) << message;
    EXPECT_NE(message.find("closest: fadeAmount"), std::string::npos) << message;

    std::tie(code, message) = failureOf([] { parseSetting(catalog(), "fadeAmount=201"); });
    EXPECT_EQ(code, Exit::Usage);
    EXPECT_NE(message.find("out of range"), std::string::npos) << message;
    EXPECT_NE(message.find("0 to 200"), std::string::npos) << message;
    std::tie(code, message) = failureOf([] { parseSetting(catalog(), "deepScratchColorR=0@0,256@10"); });
    EXPECT_NE(message.find("0 to 255"), std::string::npos) << "each key is checked: " << message;

    for (const char* bad : {"fadeAmount=1.5", "fadeAmount=", "fadeAmount=abc", "doDust=maybe", "fadeAmount",
                            "fadeAmount=1@0,2@0", "fadeAmount=1@x", "fadeAmount=1@0,2", "amplitude=nan", "amplitude=1e999"}) {
        auto [c, m] = failureOf([&] { parseSetting(catalog(), bad); });
        EXPECT_EQ(c, Exit::Usage) << bad;
        EXPECT_FALSE(m.empty()) << bad;
    }
}

TEST(TarnixParameters, SuggestionsAreNearNames) {
    EXPECT_EQ(editDistance("kitten", "sitting"), 3u);
    EXPECT_EQ(editDistance("DoDust", "dodust"), 0u);
    EXPECT_EQ(editDistance("", "abc"), 3u);
    const auto near = catalog().closest("dust", 3);
    ASSERT_FALSE(near.empty());
    EXPECT_EQ(near.front(), "doDust");
    for (const std::string& n : near) EXPECT_NE(n.find("ust"), std::string::npos) << n;
    EXPECT_EQ(catalog().closest("gateweaveAmplitud", 3).front(), "gateweaveAmplitude");
}

TEST(TarnixPresets, BuiltInsParseAndTheHeavyOneSwitchesEveryStageOn) {
    ASSERT_GE(builtInPresets().size(), 4u);
    for (const char* name : {"light", "worn-print", "silent-era", "home-movie-8mm"}) {
        ASSERT_NE(findBuiltInPreset(name), nullptr) << name;
        EXPECT_FALSE(loadPreset(catalog(), name).empty()) << name;
    }
    std::set<std::string> on;
    for (const Setting& s : loadPreset(catalog(), kHeavyPreset))
        if (s.parameter->kind == ParameterKind::Checkbox && s.keys.front().second == 1) on.insert(s.parameter->field);
    for (const char* stage : {"doFading", "doFunk", "doSplotches", "doDust", "doFlicker", "doVignette", "doMicro",
                              "doGrain", "doDeepScratch", "doBasicScratch", "doGateweave", "doContrast"})
        EXPECT_TRUE(on.count(stage)) << stage;
    EXPECT_FALSE(on.count("doDisplacement")) << "it would resample the source and undo the earlier tone stages";

    auto [code, message] = failureOf([] { loadPreset(catalog(), "no-such-look"); });
    EXPECT_EQ(code, Exit::Usage);
    EXPECT_NE(message.find("worn-print"), std::string::npos) << "the message lists the built-in presets: " << message;
}

TEST(TarnixPresets, TemplateReadsBackAsTheDefaultsAndLaterSettingsWin) {
    const std::vector<Setting> defaults = parsePresetText(catalog(), presetTemplate(catalog()), "template");
    ASSERT_EQ(defaults.size(), catalog().all().size());
    for (const Setting& s : defaults) EXPECT_EQ(s.keys.front().second, s.parameter->defaultValue) << s.parameter->field;

    auto [code, message] = failureOf([] { parsePresetText(catalog(), "# look\ndoDust = on\n\nfadeAmount = 999\n", "look.txt"); });
    EXPECT_EQ(code, Exit::Usage);
    EXPECT_EQ(message.rfind("look.txt:4: ", 0), 0u) << message;
    std::tie(code, message) = failureOf([] { parsePresetText(catalog(), "doDust on\n", "look.txt"); });
    EXPECT_EQ(message.rfind("look.txt:1: ", 0), 0u) << message;

    // A preset file, then a --set that overrides one of its values.
    const std::string dir = makeTempDir();
    writeFile(dir + "/look.txt", "doGrain = on\namountGrain = 0.5  # medium\n");
    const std::vector<Setting> look = resolveLook(
        catalog(), {{LookStep::Kind::Preset, dir + "/look.txt"}, {LookStep::Kind::Set, "amountgrain=0.25"}});
    ASSERT_EQ(look.size(), 3u);
    EXPECT_EQ(look.back().parameter->field, "amountGrain");
    EXPECT_EQ(look.back().keys.front().second, 0.25);
    std::remove((dir + "/look.txt").c_str());
    ::rmdir(dir.c_str());
}

TEST(TarnixPixels, SixteenBitConversionRoundsBothWaysAndRoundTripsWithinTwo) {
    EXPECT_EQ(toPluginRange(0), 0);
    EXPECT_EQ(toPluginRange(65535), 16384);
    EXPECT_EQ(fromPluginRange(0), 0);
    EXPECT_EQ(fromPluginRange(16384), 65535);
    EXPECT_EQ(fromPluginRange(20000), 65535) << "values past white are held at white";
    int worst = 0;
    for (uint32_t v = 0; v <= 65535; ++v) {
        // The same rounding worked out in floating point.
        ASSERT_EQ(toPluginRange(v), uint16_t(std::floor(v * 16384.0 / 65535.0 + 0.5))) << v;
        if (v > 0) {
            ASSERT_GE(toPluginRange(v), toPluginRange(v - 1));
        }
        worst = std::max(worst, std::abs(int(fromPluginRange(toPluginRange(v))) - int(v)));
    }
    EXPECT_EQ(worst, 2) << "half a plug-in step is just under 2 units, plus half a unit of the way back";
    for (uint32_t p = 0; p <= 16384; ++p) {
        ASSERT_EQ(fromPluginRange(p), uint16_t(std::floor(p * 65535.0 / 16384.0 + 0.5))) << p;
        ASSERT_EQ(toPluginRange(fromPluginRange(p)), p) << "every plug-in value survives the way out and back";
    }
}

TEST(TarnixPixels, RawFramesLandInTheImageChannelsByMeaning) {
    for (bool deep : {false, true})
        for (bool bgra : {false, true}) {
            SCOPED_TRACE(std::string(deep ? "16" : "8") + (bgra ? " bgra" : " argb"));
            const RawFormat raw{deep, bgra};
            refhost::ImageSpec shape;
            shape.width = 3;
            shape.height = 2;
            shape.layout = layoutFor(raw);
            AcfPtr<refhost::Image> image(new refhost::Image(shape));
            // One pixel per position with A, R, G, B of distinct values, in ffmpeg's layout:
            // bgra/bgra64le store B G R A, argb stores A R G B, rgba64le stores R G B A.
            std::vector<uint8_t> bytes(rawFrameBytes(raw, 3, 2));
            auto put = [&](int pixel, int slot, uint32_t v) {
                if (deep) {
                    bytes[size_t(pixel) * 8 + size_t(slot) * 2] = uint8_t(v);
                    bytes[size_t(pixel) * 8 + size_t(slot) * 2 + 1] = uint8_t(v >> 8);
                } else {
                    bytes[size_t(pixel) * 4 + size_t(slot)] = uint8_t(v);
                }
            };
            const int slotOf[4] = {bgra ? 3 : (deep ? 3 : 0), bgra ? 2 : (deep ? 0 : 1), bgra ? 1 : (deep ? 1 : 2),
                                   bgra ? 0 : (deep ? 2 : 3)};  // A, R, G, B
            const uint32_t unit = deep ? 257 : 1;
            for (int p = 0; p < 6; ++p)
                for (int c = 0; c < 4; ++c) put(p, slotOf[c], uint32_t(10 * p + 40 * c + 5) * unit);
            unpackFrame(bytes.data(), raw, *image.get());
            for (int p = 0; p < 6; ++p)
                for (int c = 0; c < 4; ++c) {
                    const uint32_t v = uint32_t(10 * p + 40 * c + 5);
                    const uint32_t expected = deep ? toPluginRange(v * 257) : v;
                    EXPECT_EQ(image->channel(uint32_t(p % 3), uint32_t(p / 3), c), expected) << p << " " << c;
                }
            std::vector<uint8_t> back(bytes.size());
            packFrame(*image.get(), raw, back.data());
            if (!deep) {
                EXPECT_EQ(back, bytes);
            }
            for (size_t i = 0; deep && i < back.size(); i += 2) {
                const int a = back[i] | back[i + 1] << 8, b = bytes[i] | bytes[i + 1] << 8;
                EXPECT_LE(std::abs(a - b), 2) << i;
            }
        }
}

TEST(TarnixCommandLine, FrameSpansRatesAndProxyScales) {
    FrameSpan span = parseFrameSpan("10:20");
    EXPECT_EQ(span.first, 10);
    EXPECT_EQ(span.last, 20);
    span = parseFrameSpan("5:");
    EXPECT_EQ(span.first, 5);
    EXPECT_FALSE(span.last);
    span = parseFrameSpan(":7");
    EXPECT_FALSE(span.first);
    EXPECT_EQ(span.last, 7);
    span = parseFrameSpan("3");
    EXPECT_EQ(span.first, 3);
    EXPECT_EQ(span.last, 3);
    for (const char* bad : {"9:2", "a:b", "1:2:3", "", "x"})
        EXPECT_EQ(failureOf([&] { parseFrameSpan(bad); }).first, Exit::Usage) << bad;

    EXPECT_EQ(parseRational("24")->text(), "24000/1000");
    EXPECT_EQ(parseRational("29.97")->text(), "30000/1001");
    EXPECT_EQ(parseRational("23.976")->text(), "24000/1001");
    EXPECT_EQ(parseRational("30000/1001")->text(), "30000/1001");
    EXPECT_FALSE(parseRational("0"));
    EXPECT_FALSE(parseRational("25/0"));
    EXPECT_FALSE(parseRational("fast"));

    EXPECT_EQ(proxyScale(1), (std::pair<int32_t, int32_t>{1, 1}));
    EXPECT_EQ(proxyScale(2), (std::pair<int32_t, int32_t>{1, 2}));
    EXPECT_EQ(proxyScale(4), (std::pair<int32_t, int32_t>{1, 4}));
    EXPECT_EQ(proxyScale(1.5), (std::pair<int32_t, int32_t>{2, 3}));
}

TEST(TarnixMedia, SequencePatternsAndOutputPlans) {
    auto p = parseSequencePattern("shots/take_%04d.png");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->directory, "shots");
    EXPECT_EQ(p->fileName(7), "take_0007.png");
    EXPECT_EQ(p->fileName(12345), "take_12345.png");
    EXPECT_EQ(parseSequencePattern("/frame%d.tif")->path(3), "/frame3.tif");
    EXPECT_FALSE(parseSequencePattern("plain.png"));
    EXPECT_FALSE(parseSequencePattern("odd_%s.png"));

    SourceInfo rgb;
    rgb.width = 64;
    rgb.height = 48;
    auto args = [](const OutputPlan& plan) {
        std::string all;
        for (const std::string& a : plan.videoArgs) all += a + " ";
        return all;
    };
    const RawFormat eight{false, true}, sixteen{true, true};
    EXPECT_NE(args(planOutput("a.mp4", rgb, eight, 64, 48, {})).find("libx264"), std::string::npos);
    EXPECT_NE(args(planOutput("a.mp4", rgb, eight, 64, 48, {})).find("yuv420p"), std::string::npos);
    EXPECT_NE(args(planOutput("a.mov", rgb, eight, 64, 48, {})).find("prores_ks -profile:v 3"), std::string::npos);
    EXPECT_NE(args(planOutput("a.mkv", rgb, eight, 64, 48, {})).find("ffv1"), std::string::npos);
    EXPECT_NE(args(planOutput("a.png", rgb, sixteen, 64, 48, {})).find("rgb48be"), std::string::npos);
    EXPECT_NE(args(planOutput("a.TIF", rgb, sixteen, 64, 48, {})).find("rgb48le"), std::string::npos);
    EXPECT_NE(args(planOutput("a.mp4", rgb, eight, 64, 48, {"", 23})).find("-crf 23"), std::string::npos);
    EXPECT_NE(args(planOutput("a.mkv", rgb, eight, 64, 48, {"libx265", 28})).find("-c:v libx265 -crf 28"), std::string::npos);
    EXPECT_NE(planOutput("a.mp4", rgb, eight, 63, 47, {}).note.find("even"), std::string::npos);
    EXPECT_TRUE(planOutput("s_%04d.png", rgb, eight, 64, 48, {}).sequence);

    SourceInfo withAudio = rgb;
    withAudio.audio = true;
    withAudio.audioCodec = "opus";
    EXPECT_TRUE(planOutput("a.mkv", withAudio, eight, 64, 48, {}).audio);
    EXPECT_EQ(planOutput("a.mkv", withAudio, eight, 64, 48, {}).audioArgs, (std::vector<std::string>{"-c:a", "copy"}));
    EXPECT_EQ(planOutput("a.mp4", withAudio, eight, 64, 48, {}).audioArgs.at(1), "aac") << "opus does not go into mp4 as is";
    EXPECT_FALSE(planOutput("a.png", withAudio, eight, 64, 48, {}).audio);

    for (const char* bad : {"a.avi", "noextension", "v_%04d.mp4", "x%y.png"})
        EXPECT_EQ(failureOf([&] { planOutput(bad, rgb, eight, 64, 48, {}); }).first, Exit::Usage) << bad;
    EXPECT_EQ(failureOf([&] { planOutput("a.mov", rgb, eight, 64, 48, {"", 20}); }).first, Exit::Usage)
        << "--crf means nothing to ProRes";
}

TEST(TarnixSafeOutput, WritesBesideAndMovesIntoPlaceOnlyOnCommit) {
    const std::string dir = makeTempDir();
    SourceInfo rgb;
    const RawFormat eight{};
    const OutputPlan plan = planOutput(dir + "/clip.mkv", rgb, eight, 8, 8, {});
    {
        SafeOutput out(plan, false);
        EXPECT_EQ(out.target().rfind(dir + "/.clip.mkv.tarnix-", 0), 0u) << out.target();
        writeFile(out.target(), "half a file");
        EXPECT_EQ(::access((dir + "/clip.mkv").c_str(), F_OK), -1);
    }
    EXPECT_TRUE(listDir(dir).empty()) << "discarded when not committed";

    {
        SafeOutput out(plan, false);
        writeFile(out.target(), "complete");
        EXPECT_EQ(out.commit(), 1u);
    }
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"clip.mkv"});
    auto [code, message] = failureOf([&] { SafeOutput again(plan, false); });
    EXPECT_EQ(code, Exit::Output);
    EXPECT_NE(message.find("already exists; add -y"), std::string::npos) << message;
    {
        SafeOutput replace(plan, true);
        writeFile(replace.target(), "newer");
        replace.commit();
    }
    std::ifstream in(dir + "/clip.mkv");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "newer");

    // A left-over of a killed render (a process that is gone) is cleared on the next run.
    writeFile(dir + "/.clip.mkv.tarnix-999999999.part", "stale");
    { SafeOutput out(plan, true); }
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"clip.mkv"});

    // Sequences go through a temporary folder and keep their numbers.
    const OutputPlan sequence = planOutput(dir + "/f_%03d.png", rgb, eight, 8, 8, {});
    {
        SafeOutput out(sequence, false);
        writeFile(out.target().substr(0, out.target().rfind('/')) + "/f_007.png", "7");
        writeFile(out.target().substr(0, out.target().rfind('/')) + "/f_008.png", "8");
        EXPECT_EQ(out.commit(), 2u);
    }
    EXPECT_EQ(listDir(dir), (std::vector<std::string>{"clip.mkv", "f_007.png", "f_008.png"}));
    std::tie(code, message) = failureOf([&] { SafeOutput again(sequence, false); });
    EXPECT_EQ(code, Exit::Output);
    EXPECT_NE(message.find("f_007.png and 1 more already exist"), std::string::npos) << message;

    for (const std::string& n : listDir(dir)) std::remove((dir + "/" + n).c_str());
    ::rmdir(dir.c_str());
    EXPECT_EQ(failureOf([&] { SafeOutput nowhere(plan, false); }).first, Exit::Output) << "its folder is gone";
}
