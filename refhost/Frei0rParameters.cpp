#include "refhost/Frei0rParameters.h"

#include <charconv>
#include <cmath>

#include "refhost/Contexts.h"
#include "sdk/sdk_ids.h"

namespace refhost::frei0r {

namespace {

std::string explain(const refhost::Parameter& p, double defaultFilterValue) {
    std::string text = p.label;
    if (!p.group.empty()) text += " (" + p.group + ")";
    if (p.kind == refhost::ParameterKind::Checkbox)
        return text + ": on from 0.5; default " + (p.defaultValue != 0 ? "on" : "off");
    text += ": 0..1 maps linearly onto " + formatNumber(p.minimum) + ".." + formatNumber(p.maximum);
    if (p.kind == refhost::ParameterKind::Integer) text += ", rounded to a whole number";
    return text + "; default " + formatNumber(p.defaultValue) + " (" + formatNumber(defaultFilterValue) + ")";
}

}  // namespace

std::string formatNumber(double v) {
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text - 1, v);
    *end = 0;
    (void)ec;
    return text;
}

double settingValue(const refhost::Parameter& p, double v) {
    if (p.kind == refhost::ParameterKind::Checkbox) return v >= 0.5 ? 1 : 0;
    // The ends exactly, whatever the subtraction below rounds to.
    if (!(v > 0)) return p.minimum;
    if (v >= 1) return p.maximum;
    const double value = p.minimum + v * (p.maximum - p.minimum);
    return p.kind == refhost::ParameterKind::Integer ? std::round(value) : value;
}

double filterValue(const refhost::Parameter& p, double value) {
    if (p.kind == refhost::ParameterKind::Checkbox) return value != 0 ? 1 : 0;
    if (!(p.maximum > p.minimum)) return 0;
    return (value - p.minimum) / (p.maximum - p.minimum);
}

void applyFilterValue(refhost::ParameterValues& values, const refhost::Parameter& p, double v) {
    const acfUID& type = p.kind == refhost::ParameterKind::Checkbox ? TYPE_Boolean
                       : p.kind == refhost::ParameterKind::Integer  ? TYPE_Int32
                                                                    : TYPE_Double;
    values.set(p.uid, type, settingValue(p, v));
}

std::vector<FilterParameter> filterParameters(const std::vector<refhost::Parameter>& catalogue) {
    std::vector<FilterParameter> parameters;
    FilterParameter fps;
    fps.name = kFpsName;
    fps.defaultValue = kDefaultFps;
    fps.explanation = "Frames per unit of the host's time (not 0..1): the effect renders frame round(time x fps), "
                      "and scratches follow those frame numbers. The clip's rate where the time is in seconds (melt, "
                      "Shotcut, Kdenlive); ffmpeg's filter gives milliseconds: the rate / 1000 there (0.025 for 25). "
                      "Frames without a usable time are counted on from the last; default 25";
    parameters.push_back(std::move(fps));
    for (const refhost::Parameter& p : catalogue) {
        FilterParameter f;
        f.setting = &p;
        f.name = p.field;
        f.boolean = p.kind == refhost::ParameterKind::Checkbox;
        f.defaultValue = filterValue(p, p.defaultValue);
        f.explanation = explain(p, f.defaultValue);
        parameters.push_back(std::move(f));
    }
    return parameters;
}

bool usableTime(double time) { return std::fabs(time) < 1e15; }

int32_t frameAt(double time, double fps) {
    if (!(fps > 0) || !std::isfinite(fps)) fps = kDefaultFps;
    const double frame = std::round(time * fps);
    if (std::isnan(frame)) return 0;
    if (!(frame > double(INT32_MIN))) return INT32_MIN;
    if (!(frame < double(INT32_MAX))) return INT32_MAX;
    return int32_t(frame);
}

}  // namespace refhost::frei0r
