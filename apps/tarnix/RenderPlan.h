// What a `tarnix render` will do, worked out from its command line and what ffprobe told
// about INPUT before anything starts: which frames, their numbers, the raw format on the
// pipes, the size, the output. A pure function, so every case can be checked without media.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "apps/tarnix/Media.h"

namespace tarnix {

// Presets and single settings in command-line order: later ones win.
struct LookStep {
    enum class Kind { Preset, Set } kind;
    std::string text;
};

struct FrameSpan {
    std::optional<int64_t> first, last;  // frame numbers
};
// "FIRST:LAST", "FIRST:", ":LAST" or "N"; throws a usage Failure.
FrameSpan parseFrameSpan(const std::string& text);

struct RenderOptions {
    std::string input, output;
    std::vector<LookStep> look;
    std::optional<int> depth;          // 8 or 16
    bool bgra = true;
    double proxy = 1.0;
    FrameSpan frames;
    std::optional<int64_t> startFrame;
    std::optional<Rational> sequenceRate;
    EncodeChoices encode;
    bool quiet = false;
    bool overwrite = false;
    std::string module;
};

// The render scale an editor reports for a proxy factor: 2 -> 1/2, 1.5 -> 2/3.
std::pair<int32_t, int32_t> proxyScale(double factor);

struct RenderPlan {
    RawFormat raw;                     // the frames' depth and channel order
    RawFormat fromDecoder, toEncoder;  // the same, as they cross each pipe
    int width = 0, height = 0;  // as rendered
    std::pair<int32_t, int32_t> scale{1, 1};
    int64_t firstFrame = 0;     // the frame number of the first frame rendered
    DecodeRange range;          // the input frames decoded
    int64_t expected = -1;      // frames to render, -1 when ffmpeg cannot tell
    int64_t firstFileNumber = 0;  // of an output sequence
    OutputPlan output;
    // For the message of a range that turns out to hold no frame: what was asked, what INPUT has.
    std::string asked, inputFrames;
};

// Throws a usage Failure for frames outside the input, or one image asked of several frames.
RenderPlan planRender(const RenderOptions& options, const SourceInfo& source);

}  // namespace tarnix
