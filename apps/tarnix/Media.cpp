#include "apps/tarnix/Media.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "apps/tarnix/Failure.h"
#include "apps/tarnix/Process.h"

namespace tarnix {

namespace {

std::string lowerCase(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string extensionOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return lowerCase(path.substr(dot + 1));
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

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

std::optional<int64_t> parseInteger(const std::string& text) {
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return v;
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

std::vector<std::string> sequenceInputArgs(const SourceInfo& source, const std::optional<Rational>& rate) {
    std::vector<std::string> args;
    if (!source.sequence) return args;
    if (rate) args.insert(args.end(), {"-framerate", rate->text()});
    args.insert(args.end(), {"-start_number", std::to_string(source.sequenceStart)});
    return args;
}

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

std::string SequencePattern::fileName(int64_t number) const {
    std::string digits = std::to_string(number);
    if (int(digits.size()) < width) digits.insert(0, size_t(width) - digits.size(), '0');
    return prefix + digits + suffix;
}

std::string SequencePattern::path(int64_t number) const {
    if (directory.empty()) return fileName(number);
    return directory.back() == '/' ? directory + fileName(number) : directory + "/" + fileName(number);
}

std::vector<int64_t> SequencePattern::present() const {
    std::vector<int64_t> numbers;
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (!dir) return numbers;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
        if (digits.size() > 18) continue;
        const int64_t n = *parseInteger(digits);
        if (fileName(n) == name) numbers.push_back(n);
    }
    ::closedir(dir);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::optional<SequencePattern> parseSequencePattern(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t percent = name.find('%');
    if (percent == std::string::npos) return std::nullopt;
    size_t i = percent + 1;
    int width = 0;
    if (i < name.size() && name[i] == '0') ++i;
    while (i < name.size() && name[i] >= '1' && name[i] <= '9' && width < 10) width = width * 10 + (name[i++] - '0');
    if (i >= name.size() || name[i] != 'd') return std::nullopt;
    SequencePattern p;
    p.directory = slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
    p.prefix = name.substr(0, percent);
    p.suffix = name.substr(i + 1);
    p.width = width;
    if (p.suffix.find('%') != std::string::npos) return std::nullopt;
    return p;
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
        struct stat st {};
        if (::stat(input.c_str(), &st) != 0)
            throw Failure(Exit::Input, input + ": " + (errno == ENOENT ? std::string("no such file") : std::strerror(errno)));
        if (S_ISDIR(st.st_mode))
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

namespace {

// The YUV matrix of the output: the source's own when it has one, else the one ffmpeg
// assumed when it decoded an untagged YUV source, else HD's for RGB sources.
struct ColourChoice {
    std::string scaleMatrix, space, primaries, transfer;
};

// ffmpeg's scaler names the matrices differently from its tags.
std::string scalerMatrix(const std::string& space) {
    static const std::map<std::string, std::string> names = {
        {"bt709", "bt709"}, {"smpte170m", "smpte170m"}, {"bt470bg", "bt470"},
        {"bt2020nc", "bt2020"}, {"fcc", "fcc"}, {"smpte240m", "smpte240m"}};
    auto it = names.find(space);
    return it == names.end() ? "" : it->second;
}

// The YUV matrix of the output: the source's own (read or assumed), so a YUV source comes
// back in the colours it went in with; HD's for RGB sources.
ColourChoice colourFor(const SourceInfo& s) {
    if (s.yuv && !scalerMatrix(s.colorSpace).empty())
        return {scalerMatrix(s.colorSpace), s.colorSpace, s.colorPrimaries, s.colorTransfer};
    if (s.yuv) return {"bt601", "smpte170m", s.colorPrimaries, s.colorTransfer};
    return {"bt709", "bt709", "bt709", "bt709"};
}

bool oneOf(const std::string& v, std::initializer_list<const char*> list) {
    for (const char* item : list)
        if (v == item) return true;
    return false;
}

}  // namespace

int crfLimit(const std::string& encoder) {
    // What the encoders take: x264 clamps anything above 51 to it unasked, x265 refuses it;
    // ffmpeg refuses more than 63 for the others.
    if (oneOf(encoder, {"libx264", "libx264rgb", "libx265"})) return 51;
    if (oneOf(encoder, {"libvpx", "libvpx-vp9", "libaom-av1", "libsvtav1"})) return 63;
    return 0;
}

OutputPlan planOutputName(const std::string& path, const EncodeChoices& choices) {
    OutputPlan plan;
    plan.path = path;
    const std::string ext = extensionOf(path);
    if (ext == "mp4" || ext == "m4v") plan.container = Container::Mp4, plan.muxer = "mp4";
    else if (ext == "mov") plan.container = Container::Mov, plan.muxer = "mov";
    else if (ext == "mkv") plan.container = Container::Mkv, plan.muxer = "matroska";
    else if (ext == "png") plan.container = Container::Png, plan.muxer = "image2", plan.image = true;
    else if (ext == "tif" || ext == "tiff") plan.container = Container::Tiff, plan.muxer = "image2", plan.image = true;
    else
        throw Failure(Exit::Usage, "cannot tell the format of " + path +
                                       " from its extension; use .mp4, .mov, .mkv, .png or .tif");
    plan.pattern = parseSequencePattern(path);
    plan.sequence = plan.pattern.has_value();
    if (plan.sequence && !plan.image)
        throw Failure(Exit::Usage, baseName(path) + ": only image outputs (.png, .tif) take a %04d pattern");
    if (!plan.pattern && path.find('%') != std::string::npos)
        throw Failure(Exit::Usage, baseName(path) + ": a numbered output needs a pattern such as name_%04d.png");

    if (choices.crf) {
        const std::string encoder = !choices.codec.empty() ? choices.codec : plan.container == Container::Mp4 ? "libx264" : "";
        if (encoder.empty())
            throw Failure(Exit::Usage, "--crf sets H.264 quality (.mp4 output) or that of a --codec that takes it");
        const int limit = crfLimit(encoder);
        if (limit == 0)
            throw Failure(Exit::Usage, "--crf: " + encoder + " takes no crf; libx264, libx265, libvpx, libvpx-vp9, "
                                       "libaom-av1 and libsvtav1 do");
        if (*choices.crf < 0 || *choices.crf > limit)
            throw Failure(Exit::Usage, "--crf takes 0 to " + std::to_string(limit) + " for " +
                                           (choices.codec.empty() ? std::string("H.264") : encoder) + " (lower is better)");
    }
    return plan;
}

OutputPlan planOutput(const std::string& path, const SourceInfo& source, const RawFormat& raw, int width, int height,
                      const EncodeChoices& choices) {
    OutputPlan plan = planOutputName(path, choices);

    const bool keepAlpha = source.alpha;
    std::vector<std::string> filters;
    std::vector<std::string>& v = plan.videoArgs;
    bool yuvOutput = false;
    bool evenWidth = false, evenHeight = false;
    if (!choices.codec.empty()) {
        v = {"-c:v", choices.codec};
        if (choices.crf) v.insert(v.end(), {"-crf", std::to_string(*choices.crf)});
        yuvOutput = true;
    } else {
        switch (plan.container) {
        case Container::Mp4:
            v = {"-c:v", "libx264", "-preset", "medium", "-crf", std::to_string(choices.crf.value_or(18)),
                 "-movflags", "+faststart"};
            yuvOutput = evenWidth = evenHeight = true;
            filters.push_back("format=yuv420p");
            break;
        case Container::Mov:
            // ProRes 422 HQ.
            v = {"-c:v", "prores_ks", "-profile:v", "3", "-vendor", "apl0"};
            yuvOutput = evenWidth = true;
            filters.push_back("format=yuv422p10le");
            break;
        case Container::Mkv:
            v = {"-c:v", "ffv1", "-level", "3", "-g", "1", "-slicecrc", "1", "-pix_fmt",
                 raw.deep ? (keepAlpha ? "rgba64le" : "rgb48le") : (keepAlpha ? "bgra" : "bgr0")};
            break;
        case Container::Png:
            v = {"-c:v", "png", "-pix_fmt", raw.deep ? (keepAlpha ? "rgba64be" : "rgb48be") : (keepAlpha ? "rgba" : "rgb24")};
            break;
        case Container::Tiff:
            v = {"-c:v", "tiff", "-compression_algo", "deflate", "-pix_fmt",
                 raw.deep ? (keepAlpha ? "rgba64le" : "rgb48le") : (keepAlpha ? "rgba" : "rgb24")};
            break;
        }
    }
    // 4:2:0 and 4:2:2 need even sizes: repeat nothing, pad one black line or column.
    if ((evenWidth && width % 2) || (evenHeight && height % 2)) {
        filters.insert(filters.begin(), std::string("pad=") + (evenWidth ? "ceil(iw/2)*2" : "iw") + ":" +
                                            (evenHeight ? "ceil(ih/2)*2" : "ih"));
        plan.note = "the picture is padded to an even size for this format";
    }
    if (source.sampleAspect.valid() && source.sampleAspect.num != source.sampleAspect.den)
        filters.push_back("setsar=" + source.sampleAspect.text());
    if (yuvOutput) {
        const ColourChoice c = colourFor(source);
        const std::string scale = "scale=out_color_matrix=" + c.scaleMatrix + ":out_range=tv";
        // The matrix conversion must happen before the format is fixed.
        const auto format = std::find_if(filters.begin(), filters.end(), [](const std::string& f) { return f.rfind("format=", 0) == 0; });
        filters.insert(format, scale);
        v.insert(v.end(), {"-colorspace", c.space, "-color_range", "tv"});
        if (!c.primaries.empty()) v.insert(v.end(), {"-color_primaries", c.primaries});
        if (!c.transfer.empty()) v.insert(v.end(), {"-color_trc", c.transfer});
        // Some encoders (ProRes) take the tags from the frames, not from the options.
        std::string tags = "setparams=range=tv:colorspace=" + c.space;
        if (!c.primaries.empty()) tags += ":color_primaries=" + c.primaries;
        if (!c.transfer.empty()) tags += ":color_trc=" + c.transfer;
        filters.push_back(tags);
    }
    if (!filters.empty()) {
        std::string chain;
        for (const std::string& f : filters) chain += (chain.empty() ? "" : ",") + f;
        v.insert(v.end(), {"-vf", chain});
    }

    if (source.audio && !plan.image) {
        plan.audio = true;
        const std::string& a = source.audioCodec;
        bool copy = true;
        std::string encoder;
        if (plan.container == Container::Mp4 && !oneOf(a, {"aac", "mp3", "ac3", "eac3", "alac"})) copy = false, encoder = "aac";
        if (plan.container == Container::Mov &&
            !oneOf(a, {"aac", "mp3", "ac3", "alac", "pcm_s16le", "pcm_s16be", "pcm_s24le", "pcm_s24be", "pcm_s32le",
                       "pcm_f32le"}))
            copy = false, encoder = "pcm_s24le";
        if (copy) {
            plan.audioArgs = {"-c:a", "copy"};
        } else {
            plan.audioArgs = {"-c:a", encoder};
            if (encoder == "aac") plan.audioArgs.insert(plan.audioArgs.end(), {"-b:a", "256k"});
            plan.note = "the " + a + " audio cannot be copied into ." + extensionOf(path) + "; it is encoded as " +
                        (encoder == "aac" ? "AAC" : "24-bit PCM");
        }
    } else if (source.audio) {
        plan.note = "image outputs carry no audio; the input's audio is left out";
    }
    return plan;
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

std::vector<std::string> encoderCommand(const Tools& tools, const OutputPlan& plan, const SourceInfo* audioSource,
                                        const RawFormat& raw, int width, int height, const Rational& rate,
                                        const DecodeRange& range, const std::string& target, int64_t firstNumber) {
    std::vector<std::string> cmd = {tools.ffmpeg, "-hide_banner", "-v", "error", "-nostats",
                                    "-sws_flags", "bicubic+accurate_rnd+full_chroma_int",
                                    "-f", "rawvideo", "-pix_fmt", raw.ffmpegName(),
                                    "-s", std::to_string(width) + "x" + std::to_string(height),
                                    "-framerate", rate.text(), "-i", "pipe:0"};
    const bool audio = plan.audio && audioSource;
    if (audio) {
        // The audio of the rendered span only.
        if (range.first > 0) cmd.insert(cmd.end(), {"-ss", std::to_string(double(range.first) / rate.value())});
        if (range.count >= 0) cmd.insert(cmd.end(), {"-t", std::to_string(double(range.count) / rate.value())});
        cmd.insert(cmd.end(), {"-i", audioSource->path});
    }
    cmd.insert(cmd.end(), {"-map", "0:v:0"});
    if (audio) cmd.insert(cmd.end(), {"-map", "1:a:0"});
    cmd.insert(cmd.end(), plan.videoArgs.begin(), plan.videoArgs.end());
    if (audio) cmd.insert(cmd.end(), plan.audioArgs.begin(), plan.audioArgs.end());
    cmd.insert(cmd.end(), {"-f", plan.muxer});
    if (plan.image && plan.sequence) cmd.insert(cmd.end(), {"-start_number", std::to_string(firstNumber)});
    if (plan.image && !plan.sequence) cmd.insert(cmd.end(), {"-frames:v", "1", "-update", "1"});
    cmd.insert(cmd.end(), {"-y", target});
    return cmd;
}

std::optional<std::string> encoderTrouble(int exitStatus, const std::string& errorText, const std::string& lastLine,
                                          const std::string& output) {
    if (errorText.find("No space left on device") != std::string::npos)
        return "cannot write " + output + ": no space left on device";
    if (errorText.find("Disk quota exceeded") != std::string::npos) return "cannot write " + output + ": disk quota exceeded";
    const bool unfinished = errorText.find("Error writing trailer") != std::string::npos ||
                            errorText.find("Error closing file") != std::string::npos;
    if (exitStatus == 0 && !unfinished) return std::nullopt;
    return "ffmpeg could not write " + output + ": " + lastLine;
}

}  // namespace tarnix
