// `tarnix render`: INPUT decoded by one ffmpeg, every frame rendered in order by one effect
// instance, the result encoded by a second ffmpeg; the three overlap.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "apps/tarnix/Media.h"
#include "apps/tarnix/Parameters.h"

namespace tarnix {

class ModuleHost;

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

// The settings a look resolves to, in the order to apply them.
std::vector<Setting> resolveLook(const ParameterCatalog& catalog, const std::vector<LookStep>& look);

// The render scale an editor reports for a proxy factor: 2 -> 1/2, 1.5 -> 2/3.
std::pair<int32_t, int32_t> proxyScale(double factor);

void runRender(const RenderOptions& options);

}  // namespace tarnix
