// What a careless or hostile host can hand the effect: values far outside the parameter
// ranges, frame numbers at the ends of their type, and the checks every render must pass
// whatever it was given. Shared by the end-to-end hostile tests and the fuzz target.
#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "refhost/Module.h"
#include "sdk/sdk_ids.h"

namespace hostile {

inline const double kNaN = std::numeric_limits<double>::quiet_NaN();
inline const double kInf = std::numeric_limits<double>::infinity();

// For the floating sliders: not numbers, infinities, values that do not fit a float or an
// integer, the smallest denormal and a negative zero.
inline const std::vector<double>& floatValues() {
    static const std::vector<double> values = {kNaN, -kNaN, kInf, -kInf, 1e39, -1e39, double(FLT_MAX), -double(FLT_MAX),
                                               1e30, -1e30, 4294967296.0, -2147483649.0, 2147483648.0,
                                               1e-310, -0.0, -1.0, -100.0, 1e6};
    return values;
}

// For the integer sliders and the frame numbers.
inline const std::vector<double>& integerValues() {
    static const std::vector<double> values = {double(INT32_MIN), double(INT32_MIN) + 1, double(INT32_MAX),
                                               double(INT32_MAX) - 1, -1.0, -1000.0, 1e6, 65536.0, 32768.0};
    return values;
}

// Checkboxes as the host stores them: anything but 1 is off.
inline const std::vector<double>& checkboxValues() {
    static const std::vector<double> values = {2.0, -1.0, double(INT32_MIN)};
    return values;
}

inline const std::vector<double>& valuesFor(const acfUID& type) {
    if (type == TYPE_Boolean) return checkboxValues();
    if (type == TYPE_Int32) return integerValues();
    return floatValues();
}

// The stages loop once per splotch, dust speck or scratch, as many times as they are told: a
// count far beyond its range is held here to one that still renders in test time.
// A scratch born with a negative lifetime is replaced at once, again and again until a draw
// of 0 gives it one: a duration far below 0 makes that chain some 30,000 scratches long.
constexpr double kMostCounted = 100;
constexpr double kLargestSplotchScale = 6;
constexpr double kShortestDuration = -100;
inline double heldToTestTime(const acfUID& parameter, double value) {
    static const acfUID counts[] = {
        refhost::HostSession::parameterUID("Plugin_FXid_SplotchNumber"),
        refhost::HostSession::parameterUID("Plugin_FXid_BlackNumber"),
        refhost::HostSession::parameterUID("Plugin_FXid_WhiteNumber"),
        refhost::HostSession::parameterUID("Plugin_FXid_Number"),
        refhost::HostSession::parameterUID("Plugin_FXid_DeepScratchNumber"),
        refhost::HostSession::parameterUID("Plugin_FXid_BasicScratchNumber"),
    };
    for (const acfUID& count : counts)
        if (count == parameter) return value > kMostCounted ? kMostCounted : value;
    // A splotch is a raster of its scale x 400 squared: held just past the range's end.
    static const acfUID scale = refhost::HostSession::parameterUID("Plugin_FXid_SplotchesScale");
    if (parameter == scale) return value > kLargestSplotchScale ? kLargestSplotchScale : value;
    static const acfUID durations[] = {
        refhost::HostSession::parameterUID("Plugin_FXid_DeepScratchDuration"),
        refhost::HostSession::parameterUID("Plugin_FXid_BasicScratchDuration"),
    };
    for (const acfUID& duration : durations)
        if (duration == parameter) return value < kShortestDuration ? kShortestDuration : value;
    return value;
}

// Every checkbox of the effect on: each stage, colour noise and invert.
inline void everyStageOn(const refhost::EffectDefinition& effect, refhost::ParameterValues& values) {
    for (const refhost::ParameterDefinition* p : effect.parameters)
        if (p->dataType == TYPE_Boolean) values.set(p->id, TYPE_Boolean, 1.0);
}

// The input as it was before a render, to prove the render left it alone.
struct FrameCopy {
    std::vector<uint8_t> bytes;
    explicit FrameCopy(const refhost::Image& image)
        : bytes(image.pixels(), image.pixels() + size_t(image.rowBytes()) * image.shape().height) {}
    bool same(const refhost::Image& image) const {
        return bytes.size() == size_t(image.rowBytes()) * image.shape().height &&
               std::equal(bytes.begin(), bytes.end(), image.pixels());
    }
};

// What must hold after any render: the input untouched, padding and guards of both images
// intact. Empty when all is well, else what went wrong.
inline std::string renderDamage(const FrameCopy& before, const refhost::Image& input, const refhost::Image& output) {
    if (!before.same(input)) return "the input image was written";
    if (!input.guardsIntact()) return "the input's guard bytes or row padding changed";
    if (!output.guardsIntact()) return "the output's guard bytes or row padding changed";
    return {};
}

}  // namespace hostile
