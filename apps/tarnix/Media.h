// What ffmpeg tells about the input, and the ffmpeg command lines that decode it into raw
// frames and encode raw frames into the output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnix {

struct Rational {
    int64_t num = 0, den = 1;
    bool valid() const { return num > 0 && den > 0; }
    double value() const { return valid() ? double(num) / double(den) : 0.0; }
    std::string text() const { return std::to_string(num) + "/" + std::to_string(den); }
};
// "25", "24000/1001", "29.97", "1:1"; nullopt when it is not a positive ratio.
std::optional<Rational> parseRational(const std::string& text);

struct Tools {
    std::string ffmpeg, ffprobe;
    // Fails with the install hint when either is missing.
    static Tools locate();
};

// "name_%04d.png": the numbered files of an image sequence.
struct SequencePattern {
    std::string directory;  // "" for the current one
    std::string prefix, suffix;
    int width = 0;  // zero-padded digits, 0 for none
    std::string fileName(int64_t number) const;
    std::string path(int64_t number) const;
    // The numbers of the files present, sorted.
    std::vector<int64_t> present() const;
};
std::optional<SequencePattern> parseSequencePattern(const std::string& path);

struct SourceInfo {
    std::string path;
    std::optional<SequencePattern> sequence;
    int64_t sequenceStart = 0;
    int width = 0, height = 0;  // as decoded, after any rotation
    std::string pixelFormat;
    int bitDepth = 8;
    bool alpha = false;
    bool yuv = false;
    Rational frameRate{25, 1};
    Rational sampleAspect{1, 1};
    int64_t frameCount = -1;  // -1 when ffmpeg cannot tell
    bool frameCountExact = false;
    bool audio = false;
    std::string audioCodec;
    std::string colorSpace, colorPrimaries, colorTransfer;  // ffmpeg's names, empty when unknown
    // An untagged YUV source is read as editors and players read it: BT.709 from 720 lines
    // up, BT.601 below; its tags above are then filled in.
    bool colourAssumed = false;
};

// Checks the input and asks ffprobe about it; throws an input Failure with one clear line.
SourceInfo probeSource(const Tools& tools, const std::string& input, const std::optional<Rational>& sequenceRate);

// Raw frames through the pipes: the plug-in's order, 8 or 16 bits per channel.
struct RawFormat {
    bool deep = false;  // 16-bit
    bool bgra = true;
    // 16-bit frames of either order travel as RGBA and are reordered here: ffmpeg has no
    // 16-bit ARGB layout, and its conversions to and from bgra64le move the colour samples of
    // frames with alpha by up to about 65 of 65535.
    // Or as planes, G, B, R and, with `alpha`, A: ffmpeg converts YUV to and from planar RGB
    // faster than to and from packed pixels, several times so at 16 bits.
    bool planes = false;
    bool alpha = true;
    const char* ffmpegName() const {
        if (planes) return deep ? (alpha ? "gbrap16le" : "gbrp16le") : (alpha ? "gbrap" : "gbrp");
        return deep ? "rgba64le" : (bgra ? "bgra" : "argb");
    }
    size_t bytesPerPixel() const { return size_t(deep ? 2 : 1) * (planes && !alpha ? 3 : 4); }
    int planeCount() const { return planes ? (alpha ? 4 : 3) : 1; }
};

enum class Container { Mp4, Mov, Mkv, Png, Tiff };

struct EncodeChoices {
    std::string codec;  // --codec, empty for the container's own
    std::optional<int> crf;
};

struct OutputPlan {
    std::string path;
    Container container = Container::Mp4;
    bool image = false;     // one file per frame
    bool sequence = false;  // a numbered pattern
    std::optional<SequencePattern> pattern;
    std::string muxer;
    std::vector<std::string> videoArgs;
    bool audio = false;
    std::vector<std::string> audioArgs;
    std::string note;  // something the user should know (audio re-encoded, size padded)
    bool keepsPipeLayout = false;  // raw video: the frames as they cross the pipe
};

// What OUTPUT's name and the encoding choices alone decide (container, muxer, image or
// sequence), checked before any work starts; throws a usage Failure for an extension it cannot
// tell or a choice that does not fit.
OutputPlan planOutputName(const std::string& path, const EncodeChoices& choices);
// The highest --crf an encoder takes (H.264 and H.265 51, VP8, VP9 and AV1 63), 0 for one without it.
int crfLimit(const std::string& encoder);
// The whole plan; throws as planOutputName does.
OutputPlan planOutput(const std::string& path, const SourceInfo& source, const RawFormat& raw, int width, int height,
                      const EncodeChoices& choices);

struct DecodeRange {
    int64_t first = 0;     // index of the first frame in the input
    int64_t count = -1;    // -1 for all
};

std::vector<std::string> decoderCommand(const Tools& tools, const SourceInfo& source, const RawFormat& raw,
                                        const DecodeRange& range, int width, int height);
// `target` is where ffmpeg writes (the temporary file or pattern); `firstNumber` numbers a sequence's first file.
std::vector<std::string> encoderCommand(const Tools& tools, const OutputPlan& plan, const SourceInfo* audioSource,
                                        const RawFormat& raw, int width, int height, const Rational& rate,
                                        const DecodeRange& range, const std::string& target, int64_t firstNumber);

// Why an encoding ffmpeg failed, or nothing when it did not. ffmpeg exits with 0 even when
// it could not write the end of the file (a full disk), so its messages count too.
std::optional<std::string> encoderTrouble(int exitStatus, const std::string& errorText, const std::string& lastLine,
                                          const std::string& output);

}  // namespace tarnix
