// The output: what its name and the encoding choices make of it, and the ffmpeg that encodes
// raw frames into it.
#include <algorithm>

#include "apps/tarnix/Failure.h"
#include "apps/tarnix/Media.h"
#include "apps/tarnix/MediaParts.h"

namespace tarnix {

using media::baseName;
using media::extensionOf;
using media::scalerMatrix;

namespace {

struct ColourChoice {
    std::string scaleMatrix, space, primaries, transfer;
};

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
    // Raw video keeps the pipe's RGB frames as they come: a matrix conversion would be a copy
    // of every frame that changes no byte. Any other encoder may pick YUV and needs it.
    plan.keepsPipeLayout = choices.codec == "rawvideo";
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
        // YUV keeps chroma at half width (or less): area averages each pair of samples, as
        // ffmpeg does for packed RGB by default. Its default bicubic filter on planar RGB blurred
        // colour edges (about 1 dB less PSNR on a test pattern) and cost no less.
        const std::string scale = "scale=out_color_matrix=" + c.scaleMatrix + ":out_range=tv:flags=area";
        // The matrix conversion must happen before the format is fixed.
        const auto format = std::find_if(filters.begin(), filters.end(), [](const std::string& f) { return f.rfind("format=", 0) == 0; });
        if (!plan.keepsPipeLayout) filters.insert(format, scale);
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
