// tarnix's own parts: parameter names, value and key parsing, presets, frame packing, spans,
// output planning and the safe output. What the end-to-end test shows through the command
// line is not repeated here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "apps/tarnix/Failure.h"
#include "apps/tarnix/Media.h"
#include "apps/tarnix/ModuleHost.h"
#include "apps/tarnix/PixelPacking.h"
#include "apps/tarnix/Process.h"
#include "apps/tarnix/Presets.h"
#include "apps/tarnix/FramePipeline.h"
#include "apps/tarnix/Progress.h"
#include "apps/tarnix/Render.h"
#include "apps/tarnix/RenderReport.h"
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

}  // namespace

TEST(TarnixParameters, OurNamesAreExactlyTheParametersTheModuleRegisters) {
    const auto& all = catalog().all();
    ASSERT_EQ(all.size(), 52u) << "one name per value-bearing parameter";
    EXPECT_EQ(host().session().effect()->parameters.size(), all.size());
    for (const Parameter& p : all) {
        // Every typed form finds this parameter and no other.
        for (std::string name : {p.field, p.shortName, p.identifier}) {
            for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_EQ(catalog().find(name), &p) << name;
        }
        // Stage switches and the two inner checkboxes are the "do" fields.
        EXPECT_EQ(p.kind == ParameterKind::Checkbox, p.field.rfind("do", 0) == 0) << p.field;
    }
    EXPECT_EQ(catalog().find("Plugin_FXid_"), nullptr);
    EXPECT_EQ(catalog().find("nothing"), nullptr);
}

TEST(TarnixParameters, LabelsGroupsKindsAndRangesComeFromTheRegistration) {
    // Expectations from the effect's published parameter table.
    const auto find = [](const char* name) {
        const Parameter* p = catalog().find(name);
        EXPECT_TRUE(p) << name;
        return p ? *p : Parameter{};
    };
    const Parameter fade = find("fadeAmount"), red = find("grainRed"), channel = find("deepScratchColorG");
    EXPECT_EQ(fade.label + " / " + fade.group, "Amount / Fade");
    EXPECT_EQ(fade.kind, ParameterKind::Integer);
    EXPECT_EQ((std::vector<double>{fade.defaultValue, fade.minimum, fade.maximum}), (std::vector<double>{100, 0, 200}));
    EXPECT_EQ(red.shortName + " / " + red.group, "Red / Grain");
    EXPECT_EQ(red.kind, ParameterKind::Number);
    EXPECT_DOUBLE_EQ(red.defaultValue, 28.22);
    EXPECT_EQ(channel.label + " / " + channel.group, "Green / Deep Scratches > Color") << "colour channels sit in the colour's own group";
    EXPECT_EQ((std::vector<double>{channel.defaultValue, channel.maximum}), (std::vector<double>{255, 255}));
    EXPECT_EQ(find("ContrastAmount").minimum, -100);
    EXPECT_EQ(find("doInvert").group, "Basic Scratches");
    EXPECT_EQ(find("doInvert").defaultValue, 1);
    EXPECT_EQ(find("DODUST").label + " / " + find("DODUST").group, "Apply Dust / ");
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
    EXPECT_EQ(s.keys, (std::vector<std::pair<double, double>>{{0, 0}, {3, 50}, {9, 200}}));
    EXPECT_EQ(formatSetting(s), "0@0,50@3,200@9");

    const auto [code, message] = failureOf([] { parseSetting(catalog(), "deepScratchColorR=0@0,256@10"); });
    EXPECT_EQ(code, Exit::Usage);
    EXPECT_NE(message.find("0 to 255"), std::string::npos) << "each key is checked: " << message;
    for (const char* bad : {"fadeAmount=1.5", "fadeAmount=", "fadeAmount=abc", "fadeAmount", "fadeAmount=1@0,2@0",
                            "fadeAmount=1@x", "fadeAmount=1@0,2", "amplitude=nan", "amplitude=1e999", "fadeAmount=201"}) {
        auto [c, m] = failureOf([&] { parseSetting(catalog(), bad); });
        EXPECT_EQ(c, Exit::Usage) << bad;
        EXPECT_FALSE(m.empty()) << bad;
    }

    EXPECT_EQ(editDistance("kitten", "sitting"), 3u);
    EXPECT_EQ(editDistance("DoDust", "dodust"), 0u);
    EXPECT_EQ(editDistance("", "abc"), 3u);
    const auto near = catalog().closest("dust", 3);
    ASSERT_FALSE(near.empty());
    EXPECT_EQ(near.front(), "doDust");
    for (const std::string& n : near) EXPECT_NE(n.find("ust"), std::string::npos) << n;
    EXPECT_EQ(catalog().closest("gateweaveAmplitud", 3).front(), "gateweaveAmplitude");
}

// Displacement (amount above 0) and microscratches restart from the source frame, losing what
// the stages before them did. No built-in look may switch on a stage a later one wipes out;
// the heavy one switches on every stage that can show together.
TEST(TarnixPresets, BuiltInsParseAndSwitchOnNoStageThatALaterOneWipesOut) {
    const std::vector<std::string> wipedOut = {"doFading", "doFunk", "doSplotches", "doDust", "doFlicker", "doVignette"};
    for (const char* name : {"light", "worn-print", "silent-era", "home-movie-8mm", "scratched-print"}) {
        SCOPED_TRACE(name);
        ASSERT_NE(findBuiltInPreset(name), nullptr);
        std::map<std::string, double> value;
        for (const Parameter& p : catalog().all()) value[p.field] = p.defaultValue;
        for (const Setting& s : loadPreset(catalog(), name)) value[s.parameter->field] = s.keys.front().second;
        const bool displaced = value["doDisplacement"] == 1 && value["displacementAmount"] > 0;
        for (const std::string& stage : wipedOut) {
            EXPECT_FALSE(value["doMicro"] == 1 && value[stage] == 1) << stage << " is lost under microscratches";
            EXPECT_FALSE(displaced && value[stage] == 1) << stage << " is lost under displacement";
        }
        EXPECT_FALSE(value["doMicro"] == 1 && displaced) << "displacement is lost under microscratches";
    }
    std::set<std::string> on;
    for (const Setting& s : loadPreset(catalog(), kHeavyPreset))
        if (s.parameter->kind == ParameterKind::Checkbox && s.keys.front().second == 1) on.insert(s.parameter->field);
    for (const char* stage : {"doFading", "doFunk", "doSplotches", "doDust", "doFlicker", "doVignette", "doGrain",
                              "doDeepScratch", "doBasicScratch", "doGateweave", "doContrast"})
        EXPECT_TRUE(on.count(stage)) << stage;
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
    char dir[] = "/tmp/tarnix-units-XXXXXX";
    ASSERT_TRUE(::mkdtemp(dir));
    const std::string look = std::string(dir) + "/look.txt";
    std::ofstream(look) << "doGrain = on\namountGrain = 0.5  # medium\n";
    const std::vector<Setting> settings =
        resolveLook(catalog(), {{LookStep::Kind::Preset, look}, {LookStep::Kind::Set, "amountgrain=0.25"}});
    ASSERT_EQ(settings.size(), 3u);
    EXPECT_EQ(settings.back().parameter->field, "amountGrain");
    EXPECT_EQ(settings.back().keys.front().second, 0.25);
    std::remove(look.c_str());
    ::rmdir(dir);
}

// Every 16-bit value against the rounding worked in floating point, both ways.
TEST(TarnixPixels, SixteenBitConversionRoundsBothWaysAndRoundTripsWithinTwo) {
    EXPECT_EQ(fromPluginRange(20000), 65535) << "values past white are held at white";
    int worst = 0;
    for (uint32_t v = 0; v <= 65535; ++v) {
        ASSERT_EQ(toPluginRange(v), uint16_t(std::floor(v * 16384.0 / 65535.0 + 0.5))) << v;
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
            shape.width = 3, shape.height = 2, shape.layout = layoutFor(raw);
            AcfPtr<refhost::Image> image(new refhost::Image(shape));
            // Distinct A, R, G, B per pixel in ffmpeg's layout: bgra B G R A, argb A R G B,
            // 16-bit as rgba64le.
            std::vector<uint8_t> bytes(rawFrameBytes(raw, 3, 2));
            const int slotOf[4] = {deep || bgra ? 3 : 0, deep ? 0 : (bgra ? 2 : 1), deep ? 1 : (bgra ? 1 : 2),
                                   deep ? 2 : (bgra ? 0 : 3)};  // A, R, G, B
            const auto value = [](int p, int c) { return uint32_t(10 * p + 40 * c + 5); };
            for (int p = 0; p < 6; ++p)
                for (int c = 0; c < 4; ++c) {
                    const size_t at = deep ? size_t(p) * 8 + size_t(slotOf[c]) * 2 : size_t(p) * 4 + size_t(slotOf[c]);
                    bytes[at] = uint8_t(value(p, c));
                    if (deep) bytes[at + 1] = uint8_t(value(p, c));  // v x 257
                }
            unpackFrame(bytes.data(), raw, *image.get());
            for (int p = 0; p < 6; ++p)
                for (int c = 0; c < 4; ++c)
                    EXPECT_EQ(image->channel(uint32_t(p % 3), uint32_t(p / 3), c), deep ? toPluginRange(value(p, c) * 257) : value(p, c));
            std::vector<uint8_t> back(bytes.size());
            packFrame(*image.get(), raw, back.data());
            for (size_t i = 0; i < back.size(); i += deep ? 2 : 1) {
                const int a = deep ? back[i] | back[i + 1] << 8 : back[i], b = deep ? bytes[i] | bytes[i + 1] << 8 : bytes[i];
                EXPECT_LE(std::abs(a - b), deep ? 2 : 0) << i;
            }
        }
}

// The vector conversions against the table ones: every 16-bit sample in every channel, odd
// run lengths, out of place and in place.
TEST(TarnixPixels, VectorConversionsMatchThePlainOnesOnEverySample) {
    // An odd step visits every value in 65536 pixels; each channel starts elsewhere.
    const size_t pixels = 65537;
    std::vector<uint8_t> samples(pixels * 8);
    for (size_t j = 0; j < pixels; ++j)
        for (uint32_t c = 0; c < 4; ++c) {
            const uint16_t v = uint16_t(j * 40503u + c * 9973u);
            std::memcpy(&samples[j * 8 + c * 2], &v, 2);
        }
    for (bool bgra : {false, true}) {
        const RawFormat raw{true, bgra};
        for (size_t count : {pixels, pixels - 1, size_t(1), size_t(3)}) {
            SCOPED_TRACE(std::to_string(count) + (bgra ? " bgra" : " argb"));
            std::vector<uint8_t> plain(count * 8), fast(count * 8), inPlace(samples.begin(), samples.begin() + long(count * 8));
            unpackPixelsPlain(samples.data(), raw, plain.data(), count);
            unpackPixels(samples.data(), raw, fast.data(), count);
            unpackPixels(inPlace.data(), raw, inPlace.data(), count);
            ASSERT_TRUE(fast == plain);
            ASSERT_TRUE(inPlace == plain);
            // The way out takes any 16-bit value, those past white too.
            packPixelsPlain(samples.data(), raw, plain.data(), count);
            packPixels(samples.data(), raw, fast.data(), count);
            ASSERT_TRUE(fast == plain);
            // A plane at a time, into pixels that already hold values, and back out.
            for (bool deep : {false, true})
                for (bool alpha : {false, true}) {
                    const RawFormat planes{deep, bgra, true, alpha};
                    const size_t sampleBytes = deep ? 2 : 1;
                    for (int plane = 0; plane < planes.planeCount(); ++plane) {
                        SCOPED_TRACE("plane " + std::to_string(plane) + (alpha ? " of 4" : " of 3") + (deep ? " 16" : " 8"));
                        const uint8_t* values = samples.data() + plane * 2 + 1;  // every 16-bit value's high byte too
                        std::vector<uint8_t> one(count * sampleBytes);
                        for (size_t j = 0; j < one.size(); ++j) one[j] = values[(j * 4) % (pixels * 8 - 8)];
                        plain.assign(samples.begin(), samples.begin() + long(count * 4 * sampleBytes));
                        fast = plain;
                        unpackPlanePlain(one.data(), planes, plane, plain.data(), count);
                        unpackPlane(one.data(), planes, plane, fast.data(), count);
                        ASSERT_TRUE(fast == plain);
                        std::vector<uint8_t> plainOut(count * sampleBytes), fastOut(count * sampleBytes);
                        packPlanePlain(samples.data(), planes, plane, plainOut.data(), count);
                        packPlane(samples.data(), planes, plane, fastOut.data(), count);
                        ASSERT_TRUE(fastOut == plainOut);
                    }
                }
        }
    }
}

TEST(TarnixCommandLine, FrameSpansRatesAndProxyScales) {
    const auto span = [](const char* text) {
        const FrameSpan s = parseFrameSpan(text);
        return (s.first ? std::to_string(*s.first) : "-") + ":" + (s.last ? std::to_string(*s.last) : "-");
    };
    EXPECT_EQ(span("10:20") + " " + span("5:") + " " + span(":7") + " " + span("3"), "10:20 5:- -:7 3:3");
    for (const char* bad : {"9:2", "a:b", "1:2:3", "", "x"}) EXPECT_EQ(failureOf([&] { parseFrameSpan(bad); }).first, Exit::Usage) << bad;

    EXPECT_EQ(parseRational("24")->text(), "24000/1000");
    EXPECT_EQ(parseRational("29.97")->text(), "30000/1001");
    EXPECT_EQ(parseRational("23.976")->text(), "24000/1001");
    EXPECT_EQ(parseRational("30000/1001")->text(), "30000/1001");
    for (const char* bad : {"0", "25/0", "fast"}) EXPECT_FALSE(parseRational(bad)) << bad;

    using Scale = std::pair<int32_t, int32_t>;
    EXPECT_EQ((std::vector<Scale>{proxyScale(1), proxyScale(2), proxyScale(4), proxyScale(1.5)}),
              (std::vector<Scale>{{1, 1}, {1, 2}, {1, 4}, {2, 3}}));
}

namespace {

// A plan in one line: depth, order, size, scale, first frame, decoded range, expected, file.
std::string summary(const RenderPlan& p) {
    return std::string(p.raw.deep ? "16 " : "8 ") + (p.raw.bgra ? "bgra " : "argb ") + std::to_string(p.width) + "x" +
           std::to_string(p.height) + " " + std::to_string(p.scale.first) + "/" + std::to_string(p.scale.second) + " frame " +
           std::to_string(p.firstFrame) + " from " + std::to_string(p.range.first) + "+" + std::to_string(p.range.count) +
           " expect " + std::to_string(p.expected) + " file " + std::to_string(p.firstFileNumber);
}

}  // namespace

// The plan of a render from its options and what ffprobe said, each field worked out by hand.
TEST(TarnixRenderPlan, FramesNumbersFormatsAndSizes) {
    SourceInfo video;
    video.path = "in.mkv";
    video.width = 1920, video.height = 1080, video.bitDepth = 16;
    video.frameCount = 100, video.frameCountExact = true;
    RenderOptions o;
    o.input = "in.mkv", o.output = "out.mkv";

    // A 16-bit source renders at 16 bits unless told; all of it is decoded.
    RenderPlan plan = planRender(o, video);
    EXPECT_EQ(summary(plan), "16 bgra 1920x1080 1/1 frame 0 from 0+-1 expect 100 file 0");
    EXPECT_EQ(plan.output.container, Container::Mkv);
    // 16-bit frames cross as planes from YUV sources (alpha only where the source has it) and
    // into every output but raw video; RGB sources send rgba64le.
    const auto pipes = [&](const SourceInfo& from, const std::string& output, const std::string& codec = "") {
        RenderOptions p = o;
        p.output = output, p.encode.codec = codec;
        const RenderPlan made = planRender(p, from);
        return std::string(made.fromDecoder.ffmpegName()) + " " + made.toEncoder.ffmpegName();
    };
    EXPECT_EQ(pipes(video, "out.mkv"), "rgba64le gbrp16le");
    SourceInfo yuv = video;
    yuv.yuv = true;
    for (const char* planar : {"yuv420p", "yuvj422p", "yuv444p10le", "yuv440p12be"}) {
        yuv.pixelFormat = planar;
        EXPECT_EQ(pipes(yuv, "out.mp4"), "gbrp16le gbrp16le") << planar;
    }
    EXPECT_EQ(pipes(yuv, "out.mov", "rawvideo"), "gbrp16le rgba64le");
    yuv.pixelFormat = "p010le";
    EXPECT_EQ(pipes(yuv, "out.mp4"), "rgba64le gbrp16le") << "semi-planar";
    yuv.pixelFormat = "yuva444p10le", yuv.alpha = true;
    EXPECT_EQ(pipes(yuv, "out.mov"), "gbrap16le gbrap16le");
    o.depth = 8;
    EXPECT_EQ(pipes(yuv, "out.mov"), "gbrap bgra") << "8-bit frames leave packed";
    o.depth.reset();

    // Frames 40 to 49 of a clip that starts at frame number 30: input frames 10 to 19.
    o.depth = 8, o.bgra = false, o.proxy = 1.5, o.startFrame = 30, o.frames = parseFrameSpan("40:49");
    // A video's files count from its first frame, whatever the frame numbers.
    EXPECT_EQ(summary(planRender(o, video)), "8 argb 1280x720 2/3 frame 40 from 10+10 expect 10 file 10");

    // A sequence of files 7 to 11: its numbers are the frame numbers and name the output's files.
    SourceInfo shots = video;
    shots.path = "shot_%04d.png", shots.sequence = parseSequencePattern("shot_%04d.png"), shots.sequenceStart = 7;
    shots.frameCount = 5, shots.bitDepth = 8;
    RenderOptions s;
    s.input = shots.path, s.output = "graded_%04d.png", s.frames = parseFrameSpan("9:");
    plan = planRender(s, shots);
    EXPECT_EQ(summary(plan), "8 bgra 1920x1080 1/1 frame 9 from 2+-1 expect 3 file 9");
    EXPECT_TRUE(plan.output.sequence);
    s.startFrame = -12, s.frames = parseFrameSpan("-11:-9");
    EXPECT_EQ(summary(planRender(s, shots)), "8 bgra 1920x1080 1/1 frame -11 from 1+3 expect 3 file 8");

    // A clip whose length ffmpeg cannot tell; one image out of a one-frame input.
    SourceInfo endless = video;
    endless.frameCount = -1, endless.frameCountExact = false;
    RenderOptions plain;
    plain.input = "in.mkv", plain.output = "out.mkv";
    plan = planRender(plain, endless);
    EXPECT_EQ(summary(plan), "16 bgra 1920x1080 1/1 frame 0 from 0+-1 expect -1 file 0");
    EXPECT_EQ(plan.inputFrames, "frames from 0");
    SourceInfo still = video;
    still.frameCount = 1;
    plain.output = "out.png";
    EXPECT_EQ(summary(planRender(plain, still)), "16 bgra 1920x1080 1/1 frame 0 from 0+1 expect 1 file 0");

    SourceInfo about = video;
    about.frameCountExact = false;
    const struct {
        SourceInfo source;
        const char* frames;
        const char* output;
        const char* says;
    } refused[] = {
        {video, "100:120", "out.mkv", "--frames 100:120 is outside the input, which has frames 0 to 99"},
        {about, "-5:-1", "out.mkv", "--frames -5:-1 is outside the input, which has frames 0 to about 99"},
        {video, "-3:5", "out.mkv", "--frames -3:5 starts before the input, which has frames 0 to 99"},
        {video, "90:", "out.png", "out.png is one image but the input has 10 frames; name a sequence such as out_%04d.png or pick one with --frames N"},
    };
    for (const auto& r : refused) {
        RenderOptions bad;
        bad.input = "in.mkv", bad.output = r.output, bad.frames = parseFrameSpan(r.frames);
        const auto [code, message] = failureOf([&] { planRender(bad, r.source); });
        EXPECT_EQ(code, Exit::Usage) << r.frames;
        EXPECT_EQ(message, r.says);
    }
}

namespace {

// Frames through the pipeline from a file, by `cat` standing in for each ffmpeg.
struct PipelineRun {
    PipelineEnd end;
    std::string written;
};

PipelineRun pipeFrames(const RawFormat& in, const RawFormat& out, int width, int height, const std::string& input,
                       const RenderStep& render) {
    char made[] = "/tmp/tarnix-pipeline-XXXXXX";
    EXPECT_TRUE(::mkdtemp(made));
    const std::string dir = made;
    std::ofstream(dir + "/in", std::ios::binary) << input;
    PipelineRun run;
    {
        ChildProcess decoder({"/bin/sh", "-c", "exec cat '" + dir + "/in'"}, ChildProcess::Stream::Null, ChildProcess::Stream::Pipe);
        ChildProcess encoder({"/bin/sh", "-c", "exec cat > '" + dir + "/out'"}, ChildProcess::Stream::Pipe, ChildProcess::Stream::Null);
        run.end = runFramePipeline(in, out, width, height, decoder, encoder, render, nullptr);
        decoder.wait();
        encoder.wait();
    }
    std::ifstream in(dir + "/out", std::ios::binary);
    run.written.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::remove((dir + "/in").c_str());
    std::remove((dir + "/out").c_str());
    ::rmdir(dir.c_str());
    return run;
}

// Raw samples into plug-in pixels and back the plain way, a plane at a time when planar.
void plainIn(const uint8_t* raw, const RawFormat& format, uint8_t* pixels, size_t count) {
    if (!format.planes) return unpackPixelsPlain(raw, format, pixels, count);
    const size_t planeBytes = count * (format.deep ? 2 : 1);
    for (int plane = 0; plane < format.planeCount(); ++plane)
        unpackPlanePlain(raw + size_t(plane) * planeBytes, format, plane, pixels, count);
}
void plainOut(const uint8_t* pixels, const RawFormat& format, uint8_t* raw, size_t count) {
    if (!format.planes) return packPixelsPlain(pixels, format, raw, count);
    const size_t planeBytes = count * (format.deep ? 2 : 1);
    for (int plane = 0; plane < format.planeCount(); ++plane)
        packPlanePlain(pixels, format, plane, raw + size_t(plane) * planeBytes, count);
}

}  // namespace

// More pixels than one conversion piece, an odd remainder, more frames than the pool has
// images: each frame comes out as rendered, in order, for every packed and planar way.
TEST(TarnixFramePipeline, FramesComeOutAsRenderedInOrder) {
    const int width = 181, height = 183;  // 33123 pixels: a piece of 32768 and one of 355
    const size_t pixels = size_t(width) * height;
    ASSERT_GT(pixels, kConversionPixels);
    const int frames = 8;
    std::vector<std::pair<RawFormat, RawFormat>> ways;
    for (bool bgra : {false, true}) {
        ways.push_back({{false, bgra}, {false, bgra}});
        ways.push_back({{true, bgra}, {true, bgra}});
        for (bool alpha : {false, true}) {
            const RawFormat planes{true, bgra, true, alpha}, packed{true, bgra};
            ways.push_back({planes, packed});
            ways.push_back({packed, planes});
            ways.push_back({{false, bgra, true, alpha}, {false, bgra}});
        }
    }
    for (const auto& [in, out] : ways) {
        SCOPED_TRACE(std::string(in.ffmpegName()) + " -> " + out.ffmpegName() + (in.bgra ? " bgra" : " argb"));
        const size_t inBytes = rawFrameBytes(in, width, height), outBytes = rawFrameBytes(out, width, height);
        const size_t imageBytes = pixels * (in.deep ? 8 : 4);
        std::string input(frames * inBytes, '\0');
        uint32_t state = 99;
        for (char& b : input) state = state * 1664525u + 1013904223u, b = char(state >> 24);
        // The render step marks each frame with its index: the first sample becomes it.
        const auto mark = [&](refhost::Image& from, refhost::Image& to, int64_t index) -> int32_t {
            std::memcpy(to.pixels(), from.pixels(), imageBytes);
            if (in.deep) reinterpret_cast<uint16_t*>(to.pixels())[0] = uint16_t(index);
            else to.pixels()[0] = uint8_t(index);
            return 0;
        };
        const PipelineRun run = pipeFrames(in, out, width, height, input, mark);
        EXPECT_EQ(run.end.frames, frames);
        EXPECT_FALSE(run.end.decoderCut || run.end.inputEndedMidFrame || run.end.encoderBroke || run.end.rejectedFrame);
        EXPECT_TRUE(run.end.encoderFed);
        ASSERT_EQ(run.written.size(), frames * outBytes);
        // Whatever the image held before, a frame without an alpha plane leaves it opaque.
        std::vector<uint8_t> image(imageBytes, 0x5A), expected(outBytes);
        for (int f = 0; f < frames; ++f) {
            plainIn(reinterpret_cast<const uint8_t*>(input.data()) + size_t(f) * inBytes, in, image.data(), pixels);
            if (in.deep) reinterpret_cast<uint16_t*>(image.data())[0] = uint16_t(f);
            else image[0] = uint8_t(f);
            plainOut(image.data(), out, expected.data(), pixels);
            ASSERT_TRUE(std::memcmp(expected.data(), run.written.data() + size_t(f) * outBytes, outBytes) == 0) << "frame " << f;
        }
    }
}

// How a run ends: a refused frame stops it there, a frame cut short at the end is noticed.
TEST(TarnixFramePipeline, ARefusedFrameOrAShortInputEndsTheRun) {
    const RawFormat raw{false, true};
    const size_t frameBytes = rawFrameBytes(raw, 16, 8);
    const std::string input(5 * frameBytes, '\x40');
    const auto copy = [&](refhost::Image& in, refhost::Image& out, int64_t index) -> int32_t {
        std::memcpy(out.pixels(), in.pixels(), frameBytes);
        return index == 2 ? 7 : 0;
    };
    PipelineRun run = pipeFrames(raw, raw, 16, 8, input, copy);
    EXPECT_EQ(run.end.frames, 2);
    ASSERT_TRUE(run.end.rejectedFrame);
    EXPECT_EQ(*run.end.rejectedFrame, 2);
    EXPECT_EQ(run.end.rejectedStatus, 7);
    EXPECT_TRUE(run.end.decoderCut);
    // What was queued for the encoder may be dropped (the output is discarded), never more.
    EXPECT_LE(run.written.size(), 2 * frameBytes);
    EXPECT_EQ(run.written, input.substr(0, run.written.size()));

    const auto pass = [&](refhost::Image& in, refhost::Image& out, int64_t) -> int32_t {
        std::memcpy(out.pixels(), in.pixels(), frameBytes);
        return 0;
    };
    run = pipeFrames(raw, raw, 16, 8, input.substr(0, 2 * frameBytes + 100), pass);
    EXPECT_EQ(run.end.frames, 2);
    EXPECT_TRUE(run.end.inputEndedMidFrame);
    EXPECT_FALSE(run.end.decoderCut);
    EXPECT_EQ(run.written.size(), 2 * frameBytes);
    EXPECT_GE(run.end.clock.elapsed, run.end.clock.rendering + run.end.clock.waitingForFfmpeg() - 1e-3)
        << "the render thread's time is split, not counted twice";
}

// Progress and summary lines; the failure that explains an ending before its consequences.
TEST(TarnixRenderReport, ProgressSummaryAndTheFailureThatExplainsAnEnding) {
    EXPECT_EQ(progressText(50, 100, 10.0, 2.0, 6.0), "frame 50/100  5.0 fps  render 25.0 fps  waiting on ffmpeg 60%  0:10 left");
    EXPECT_EQ(progressText(50, -1, 10.0), "frame 50  5.0 fps  0:10 elapsed");

    SourceInfo video;
    video.width = 64, video.height = 48, video.frameCount = 10, video.frameCountExact = true;
    RenderOptions o;
    o.input = "in.mkv", o.output = "out.mkv", o.startFrame = 100, o.frames = parseFrameSpan("103:");
    const RenderPlan plan = planRender(o, video);
    RenderEnding ending;
    ending.pipeline.frames = 7;
    ending.pipeline.clock = {4.0, 0.5, 1.0, 2.0};
    EXPECT_EQ(renderSummary(o, plan, Rational{25, 1}, ending.pipeline),
              "wrote out.mkv: 7 frames of 64x48 at 25 fps, 8-bit, in 4.0 s (1.8 fps; the plug-in alone 14.0 fps; "
              "waiting on ffmpeg 75% of the time)");
    EXPECT_FALSE(renderFailure(o, plan, ending));

    const auto says = [&](const RenderEnding& e) {
        const std::optional<Failure> f = renderFailure(o, plan, e);
        return f ? std::to_string(int(f->code())) + " " + f->what() : std::string("none");
    };
    RenderEnding refused = ending;
    refused.pipeline.rejectedFrame = 2, refused.pipeline.rejectedStatus = 0x80000005;
    refused.pipeline.decoderCut = true, refused.decoderStatus = 137;
    EXPECT_EQ(says(refused), "1 frame 105: the plug-in rejected the frame (status 0x80000005)");
    RenderEnding broke = ending;
    broke.pipeline.encoderBroke = true, broke.pipeline.decoderCut = true, broke.decoderStatus = 137;
    EXPECT_EQ(says(broke), "1 ffmpeg stopped taking frames for out.mkv");
    broke.encoderStatus = 1, broke.encoderReason = "the disk caught fire";
    EXPECT_EQ(says(broke), "1 ffmpeg could not write out.mkv: the disk caught fire");
    // An encoder that failed while it was fed failed on its own, whatever the input did.
    RenderEnding both = ending;
    both.pipeline.encoderFed = true, both.encoderStatus = 1, both.encoderReason = "the disk caught fire";
    both.decoderStatus = 1, both.decoderReason = "the drive went away";
    EXPECT_EQ(says(both), "1 ffmpeg could not write out.mkv: the disk caught fire");
    RenderEnding badInput = ending;
    badInput.decoderStatus = 1, badInput.decoderReason = "the drive went away";
    badInput.pipeline.inputEndedMidFrame = true;
    EXPECT_EQ(says(badInput), "3 cannot decode in.mkv: the drive went away");
    badInput.decoderStatus = 0;
    EXPECT_EQ(says(badInput), "3 in.mkv ended in the middle of a frame");
    RenderEnding none = ending;
    none.pipeline.frames = 0;
    EXPECT_EQ(says(none), "2 --frames 103: is outside the input, which has frames 100 to 109");
    RenderEnding late = ending;
    late.encoderErrors = "Error writing trailer", late.encoderReason = "Broken pipe";
    EXPECT_EQ(says(late), "1 ffmpeg could not write out.mkv: Broken pipe") << "ffmpeg's exit status 0 does not hide it";
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
    rgb.width = 64, rgb.height = 48;
    const RawFormat eight{false, true}, sixteen{true, true};
    const struct {
        const char* file;
        RawFormat raw;
        EncodeChoices choice;
        const char* args;
    } plans[] = {{"a.mov", eight, {}, "prores_ks -profile:v 3"}, {"a.TIF", sixteen, {}, "rgb48le"},
                 {"a.mp4", eight, {"", 51}, "-crf 51"}, {"a.mkv", eight, {"libx265", 28}, "-c:v libx265 -crf 28"},
                 {"a.mkv", eight, {"libvpx-vp9", 63}, "-c:v libvpx-vp9 -crf 63"}};
    for (const auto& k : plans) {
        std::string all;
        for (const std::string& a : planOutput(k.file, rgb, k.raw, 64, 48, k.choice).videoArgs) all += a + " ";
        EXPECT_NE(all.find(k.args), std::string::npos) << k.file << ": " << all;
    }
    // Raw video keeps the pipe's RGB (no matrix conversion); other encoders get one.
    const auto argsOf = [&](const EncodeChoices& choice) {
        std::string all;
        for (const std::string& a : planOutput("a.mov", rgb, sixteen, 64, 48, choice).videoArgs) all += a + " ";
        return all;
    };
    EXPECT_EQ(argsOf({"rawvideo", {}}).find("scale="), std::string::npos) << argsOf({"rawvideo", {}});
    EXPECT_NE(argsOf({"rawvideo", {}}).find("-colorspace bt709"), std::string::npos) << "its tags stay as they were";
    EXPECT_NE(argsOf({"libx265", {}}).find("scale=out_color_matrix=bt709"), std::string::npos);
    EXPECT_NE(planOutput("a.mp4", rgb, eight, 63, 47, {}).note.find("even"), std::string::npos);
    EXPECT_TRUE(planOutput("s_%04d.png", rgb, eight, 64, 48, {}).sequence);

    SourceInfo withAudio = rgb;
    withAudio.audio = true;
    withAudio.audioCodec = "opus";
    EXPECT_EQ(planOutput("a.mp4", withAudio, eight, 64, 48, {}).audioArgs.at(1), "aac") << "opus does not go into mp4 as is";
    EXPECT_FALSE(planOutput("a.png", withAudio, eight, 64, 48, {}).audio);

    for (const char* bad : {"a.avi", "noextension", "v_%04d.mp4", "x%y.png"})
        EXPECT_EQ(failureOf([&] { planOutput(bad, rgb, eight, 64, 48, {}); }).first, Exit::Usage) << bad;
    EXPECT_EQ(failureOf([&] { planOutput("a.mov", rgb, eight, 64, 48, {"", 20}); }).first, Exit::Usage) << "--crf means nothing to ProRes";
    for (const EncodeChoices& beyond : {EncodeChoices{"", 52}, {"libx265", 52}, {"libaom-av1", 64}, {"libx264", -1}})
        EXPECT_EQ(failureOf([&] { planOutput("a.mp4", rgb, eight, 64, 48, beyond); }).first, Exit::Usage) << beyond.codec;
}

// ffmpeg names the cause in a "[component @ address]" line that may run on: the reason is
// that cause, whole, on one line.
TEST(TarnixProcess, TheReasonIsTheCauseWhole) {
    const auto reasonOf = [](const std::string& text) {
        ChildProcess child({"/bin/sh", "-c", "printf '" + text + "' >&2"}, ChildProcess::Stream::Null, ChildProcess::Stream::Null);
        child.wait();
        return child.reason("it said nothing");
    };
    EXPECT_EQ(reasonOf("[mux @ 0x1] it cannot take this, use that or\\nthe other (-x 1)\\nCould not write header\\n"),
              "it cannot take this, use that or the other (-x 1)");
    EXPECT_EQ(reasonOf("[enc @ 0x2] Cannot open the encoder.\\nError initializing output stream 0:0 --\\n"), "Cannot open the encoder.");
    EXPECT_EQ(reasonOf("no component\\nlast words\\n"), "last words");
    EXPECT_EQ(reasonOf(""), "it said nothing");
}

// Children that frames cross get huge pages for glibc's heap unless the user tuned it; the
// rest of the environment passes through.
TEST(TarnixProcess, FrameChildrenGetHugePagesUnlessTheUserTunedTheHeap) {
    const auto heapOf = [](ChildProcess::Stream out) {
        ChildProcess child({"/bin/sh", "-c", "printf '%s|%s' \"${GLIBC_TUNABLES-unset}\" \"$TARNIX_PROBE\" >&2"},
                           ChildProcess::Stream::Null, out);
        child.wait();
        return child.reason("");
    };
    ::setenv("TARNIX_PROBE", "kept", 1);
    EXPECT_EQ(heapOf(ChildProcess::Stream::Pipe), "glibc.malloc.hugetlb=1|kept");
    EXPECT_EQ(heapOf(ChildProcess::Stream::Null), "unset|kept");
    for (const char* own : {"GLIBC_TUNABLES", "MALLOC_MMAP_THRESHOLD_", "MALLOC_TRIM_THRESHOLD_"}) {
        SCOPED_TRACE(own);
        ::setenv(own, "65536", 1);
        const std::string got = heapOf(ChildProcess::Stream::Pipe);
        EXPECT_EQ(got.find("hugetlb"), std::string::npos) << got;
        ::unsetenv(own);
    }
    ::unsetenv("TARNIX_PROBE");
}

// A file goes under a temporary name beside OUTPUT, a sequence through a temporary folder,
// each moved into place only on commit.
TEST(TarnixSafeOutput, WritesBesideAndMovesIntoPlaceOnlyOnCommit) {
    char made[] = "/tmp/tarnix-units-XXXXXX";
    ASSERT_TRUE(::mkdtemp(made));
    const std::string dir = made;
    const OutputPlan plan = planOutput(dir + "/clip.mkv", SourceInfo{}, RawFormat{}, 8, 8, {});
    {
        SafeOutput out(plan, false);
        EXPECT_EQ(out.target().rfind(dir + "/.clip.mkv.tarnix-", 0), 0u) << out.target();
        std::ofstream(out.target()) << "complete";
        EXPECT_EQ(::access((dir + "/clip.mkv").c_str(), F_OK), -1);
        EXPECT_EQ(out.commit(), 1u);
    }
    const OutputPlan sequence = planOutput(dir + "/f_%03d.png", SourceInfo{}, RawFormat{}, 8, 8, {});
    for (bool commit : {false, true}) {
        SafeOutput out(sequence, false);
        const std::string folder = out.target().substr(0, out.target().rfind('/'));
        std::ofstream(folder + "/f_007.png") << "7";
        std::ofstream(folder + "/f_008.png") << "8";
        EXPECT_EQ(listDir(dir).size(), 2u) << "the file and the temporary folder";
        if (commit) {
            EXPECT_EQ(out.commit(), 2u);
        }
    }
    EXPECT_EQ(listDir(dir), (std::vector<std::string>{"clip.mkv", "f_007.png", "f_008.png"}));
    const auto [code, message] = failureOf([&] { SafeOutput again(sequence, false); });
    EXPECT_EQ(code, Exit::Output);
    EXPECT_NE(message.find("f_007.png and 1 more already exist"), std::string::npos) << message;

    for (const std::string& n : listDir(dir)) std::remove((dir + "/" + n).c_str());
    ::rmdir(dir.c_str());
    EXPECT_EQ(failureOf([&] { SafeOutput nowhere(plan, false); }).first, Exit::Output) << "its folder is gone";
}
