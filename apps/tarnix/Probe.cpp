// What ffprobe tells about the input, and the ffmpeg that decodes it into raw frames.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <unistd.h>

#include "apps/tarnix/Failure.h"
#include "apps/tarnix/Media.h"
#include "apps/tarnix/MediaParts.h"
#include "apps/tarnix/Process.h"

namespace tarnix {

using media::parseInteger;
using media::scalerMatrix;
using media::sequenceInputArgs;

namespace {

// ffprobe's "flat" output: key=value lines, strings quoted.
std::map<std::string, std::string> parseFlat(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        values[line.substr(0, eq)] = value;
    }
    return values;
}

std::optional<double> parseDouble(const std::string& text) {
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return v;
}

// "00:01:02.500000000" as Matroska tags write durations.
std::optional<double> parseClock(const std::string& text) {
    int h = 0, m = 0;
    double s = 0;
    if (std::sscanf(text.c_str(), "%d:%d:%lf", &h, &m, &s) != 3) return std::nullopt;
    return h * 3600.0 + m * 60.0 + s;
}

std::string known(const std::string& value) { return value == "unknown" || value == "N/A" ? "" : value; }

struct PixelFormatFacts {
    int bitDepth = 8;
    bool alpha = false;
    bool rgb = false;
};

PixelFormatFacts pixelFormatFacts(const Tools& tools, const std::string& name) {
    // The usual ones without asking: each ffprobe start costs a noticeable fraction of a
    // second on a short clip.
    static const std::map<std::string, PixelFormatFacts> common = {
        {"yuv420p", {8, false, false}},      {"yuvj420p", {8, false, false}},      {"yuv422p", {8, false, false}},
        {"yuvj422p", {8, false, false}},     {"yuv444p", {8, false, false}},       {"yuvj444p", {8, false, false}},
        {"nv12", {8, false, false}},         {"rgb24", {8, false, true}},          {"bgr24", {8, false, true}},
        {"rgba", {8, true, true}},           {"bgra", {8, true, true}},            {"argb", {8, true, true}},
        {"abgr", {8, true, true}},           {"rgb0", {8, false, true}},           {"bgr0", {8, false, true}},
        {"0rgb", {8, false, true}},          {"0bgr", {8, false, true}},           {"gbrp", {8, false, true}},
        {"rgb48be", {16, false, true}},      {"rgb48le", {16, false, true}},       {"rgba64be", {16, true, true}},
        {"rgba64le", {16, true, true}},      {"bgra64le", {16, true, true}},       {"gbrp16le", {16, false, true}},
        {"yuv420p10le", {10, false, false}}, {"yuv422p10le", {10, false, false}}, {"yuv444p10le", {10, false, false}},
        {"yuv444p12le", {12, false, false}}, {"yuva444p10le", {10, true, false}},  {"gbrp10le", {10, false, true}},
    };
    if (auto it = common.find(name); it != common.end()) return it->second;
    std::string out;
    PixelFormatFacts facts;
    if (runCapture({tools.ffprobe, "-v", "error", "-show_pixel_formats", "-of", "flat"}, out) != 0) return facts;
    const auto values = parseFlat(out);
    for (const auto& [key, value] : values) {
        if (value != name || key.size() < 5 || key.compare(key.size() - 5, 5, ".name") != 0) continue;
        const std::string stem = key.substr(0, key.size() - 5);
        auto flag = [&](const char* f) {
            auto it = values.find(stem + ".flags." + f);
            return it != values.end() && it->second == "1";
        };
        facts.alpha = flag("alpha");
        facts.rgb = flag("rgb");
        facts.bitDepth = 0;
        for (int c = 0; c < 4; ++c) {
            auto it = values.find(stem + ".components.component." + std::to_string(c) + ".bit_depth");
            if (it != values.end()) facts.bitDepth = std::max<int>(facts.bitDepth, int(parseInteger(it->second).value_or(8)));
        }
        if (facts.bitDepth == 0) facts.bitDepth = 8;
        break;
    }
    return facts;
}

}  // namespace

std::optional<Rational> parseRational(const std::string& text) {
    const size_t sep = text.find_first_of("/:");
    if (sep != std::string::npos) {
        auto num = parseInteger(text.substr(0, sep));
        auto den = parseInteger(text.substr(sep + 1));
        if (!num || !den || *num <= 0 || *den <= 0) return std::nullopt;
        return Rational{*num, *den};
    }
    auto v = parseDouble(text);
    if (!v || !(*v > 0) || *v > 1e6) return std::nullopt;
    // Decimal rates as editors type them: 29.97 means 30000/1001.
    for (double base : {24.0, 30.0, 60.0, 120.0})
        if (std::fabs(*v - base * 1000.0 / 1001.0) < 0.005) return Rational{int64_t(base * 1000), 1001};
    const int64_t den = 1000;
    return Rational{int64_t(std::llround(*v * double(den))), den};
}

Tools Tools::locate() {
    Tools t{findOnPath("ffmpeg"), findOnPath("ffprobe")};
    if (t.ffmpeg.empty() || t.ffprobe.empty())
        throw Failure(Exit::Environment,
                      "ffmpeg is not installed (tarnix reads and writes media with it); install it with: apt-get install ffmpeg");
    return t;
}

SourceInfo probeSource(const Tools& tools, const std::string& input, const std::optional<Rational>& sequenceRate) {
    SourceInfo s;
    s.path = input;
    s.sequence = parseSequencePattern(input);
    if (s.sequence) {
        const std::vector<int64_t> numbers = s.sequence->present();
        if (numbers.empty())
            throw Failure(Exit::Input, input + ": no files match the pattern (for example " + s.sequence->fileName(1) + ")");
        s.sequenceStart = numbers.front();
        // ffmpeg reads a sequence up to its first gap.
        int64_t run = 1;
        while (size_t(run) < numbers.size() && numbers[size_t(run)] == s.sequenceStart + run) ++run;
        s.frameCount = run;
        s.frameCountExact = true;
        if (::access(s.sequence->path(s.sequenceStart).c_str(), R_OK) != 0)
            throw Failure(Exit::Input, "cannot read " + s.sequence->path(s.sequenceStart) + ": " + std::strerror(errno));
    } else {
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::status(input, error);
        if (error)
            throw Failure(Exit::Input, input + ": " + (error == std::errc::no_such_file_or_directory ? std::string("no such file")
                                                                                                 : std::strerror(error.value())));
        if (std::filesystem::is_directory(status))
            throw Failure(Exit::Input, input + " is a folder; give a video file, an image or a pattern such as name_%04d.png");
        if (::access(input.c_str(), R_OK) != 0) throw Failure(Exit::Input, "cannot read " + input + ": " + std::strerror(errno));
    }

    std::vector<std::string> probe = {tools.ffprobe, "-v", "error"};
    for (const std::string& a : sequenceInputArgs(s, sequenceRate)) probe.push_back(a);
    probe.insert(probe.end(),
                 {"-show_entries",
                  "stream=index,codec_type,codec_name,width,height,pix_fmt,r_frame_rate,avg_frame_rate,nb_frames,duration,"
                  "sample_aspect_ratio,color_space,color_primaries,color_transfer:stream_tags=rotate,DURATION:"
                  "stream_side_data=rotation:format=duration,format_name",
                  "-of", "flat", "-i", input});
    std::string out, err;
    if (runCapture(probe, out, &err) != 0) {
        std::string line = err;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        line = line.substr(line.find_last_of('\n') == std::string::npos ? 0 : line.find_last_of('\n') + 1);
        if (line.rfind(input + ": ", 0) == 0) line.erase(0, input.size() + 2);  // ffprobe names the file too
        throw Failure(Exit::Input, "cannot read " + input + (line.empty() ? "" : ": " + line));
    }
    const auto v = parseFlat(out);
    auto get = [&](const std::string& key) {
        auto it = v.find(key);
        return it == v.end() ? std::string() : it->second;
    };
    std::string video, audio;
    for (int i = 0; !get("streams.stream." + std::to_string(i) + ".index").empty(); ++i) {
        const std::string stem = "streams.stream." + std::to_string(i) + ".";
        if (get(stem + "codec_type") == "video" && video.empty()) video = stem;
        if (get(stem + "codec_type") == "audio" && audio.empty()) audio = stem;
    }
    if (video.empty()) throw Failure(Exit::Input, input + " has no video stream");

    s.width = int(parseInteger(get(video + "width")).value_or(0));
    s.height = int(parseInteger(get(video + "height")).value_or(0));
    if (s.width <= 0 || s.height <= 0) throw Failure(Exit::Input, input + ": ffmpeg cannot tell the picture size");
    const std::string rotate = !get(video + "side_data_list.side_data.0.rotation").empty()
                                   ? get(video + "side_data_list.side_data.0.rotation")
                                   : get(video + "tags.rotate");
    if (auto r = parseInteger(rotate); r && std::abs(*r) % 180 == 90) std::swap(s.width, s.height);

    s.pixelFormat = get(video + "pix_fmt");
    const PixelFormatFacts facts = pixelFormatFacts(tools, s.pixelFormat);
    s.bitDepth = facts.bitDepth;
    s.alpha = facts.alpha && s.pixelFormat != "pal8";
    s.yuv = !facts.rgb && s.pixelFormat.find("gray") == std::string::npos && s.pixelFormat != "pal8";

    const auto r = parseRational(get(video + "r_frame_rate"));
    const auto avg = parseRational(get(video + "avg_frame_rate"));
    if (s.sequence && sequenceRate) s.frameRate = *sequenceRate;
    else if (r && (!avg || std::fabs(r->value() - avg->value()) <= 0.01 * avg->value())) s.frameRate = *r;
    else if (avg) s.frameRate = *avg;
    else if (r) s.frameRate = *r;
    if (auto sar = parseRational(get(video + "sample_aspect_ratio"))) s.sampleAspect = *sar;

    const std::string format = get("format.format_name");
    const bool stillImage = !s.sequence && (format == "image2" || format.find("_pipe") != std::string::npos);
    if (stillImage) {
        s.frameCount = 1;
        s.frameCountExact = true;
    } else if (!s.sequence) {
        if (auto n = parseInteger(get(video + "nb_frames")); n && *n > 0) {
            s.frameCount = *n;
            s.frameCountExact = true;
        } else {
            std::optional<double> seconds = parseDouble(get(video + "duration"));
            if (!seconds) seconds = parseClock(get(video + "tags.DURATION"));
            if (!seconds) seconds = parseDouble(get("format.duration"));
            if (seconds && *seconds > 0) s.frameCount = std::max<int64_t>(1, std::llround(*seconds * s.frameRate.value()));
        }
    }
    if (!audio.empty()) {
        s.audio = true;
        s.audioCodec = get(audio + "codec_name");
    }
    s.colorSpace = known(get(video + "color_space"));
    s.colorPrimaries = known(get(video + "color_primaries"));
    s.colorTransfer = known(get(video + "color_transfer"));
    if (s.yuv && s.colorSpace.empty()) {
        s.colourAssumed = true;
        const std::string standard = s.height >= 720 ? "bt709" : "smpte170m";
        s.colorSpace = standard;
        if (s.colorPrimaries.empty()) s.colorPrimaries = standard;
        if (s.colorTransfer.empty()) s.colorTransfer = standard;
    }
    return s;
}

std::vector<std::string> decoderCommand(const Tools& tools, const SourceInfo& source, const RawFormat& raw,
                                        const DecodeRange& range, int width, int height) {
    std::vector<std::string> cmd = {tools.ffmpeg, "-hide_banner", "-nostdin", "-v", "error",
                                    "-sws_flags", "bicubic+accurate_rnd+full_chroma_int"};
    const std::optional<Rational> rate = source.sequence ? std::optional<Rational>(source.frameRate) : std::nullopt;
    for (const std::string& a : sequenceInputArgs(source, rate)) cmd.push_back(a);
    cmd.insert(cmd.end(), {"-i", source.path, "-map", "0:v:0", "-an", "-sn", "-dn", "-fps_mode", "passthrough"});
    std::string chain;
    if (range.first > 0 || range.count >= 0) {
        chain = "trim=start_frame=" + std::to_string(range.first);
        if (range.count >= 0) chain += ":end_frame=" + std::to_string(range.first + range.count);
    }
    // Untagged frames would otherwise be read as BT.601 whatever their size.
    const std::string matrix = source.yuv ? scalerMatrix(source.colorSpace) : "";
    if (width != source.width || height != source.height || !matrix.empty()) {
        // Area averaging for a proxy's downscale; chroma at full resolution either way.
        const bool resize = width != source.width || height != source.height;
        std::string scale = "scale=" + std::to_string(width) + ":" + std::to_string(height) + ":flags=" +
                            (resize ? "area" : "bicubic") + "+accurate_rnd+full_chroma_int";
        if (!matrix.empty()) scale += ":in_color_matrix=" + matrix;
        chain += (chain.empty() ? "" : ",") + scale;
    }
    if (!chain.empty()) cmd.insert(cmd.end(), {"-vf", chain});
    if (range.count >= 0) cmd.insert(cmd.end(), {"-frames:v", std::to_string(range.count)});
    cmd.insert(cmd.end(), {"-f", "rawvideo", "-pix_fmt", raw.ffmpegName(), "pipe:1"});
    return cmd;
}

}  // namespace tarnix
