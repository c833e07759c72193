// What a frei0r filter of the module shows its hosts: every render setting as a frei0r
// parameter named by its field name, checkboxes as booleans and sliders as doubles in 0..1
// that map linearly onto the slider's range, after one more double, fps, that turns the host's
// time into frame numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "refhost/ParameterCatalog.h"

namespace refhost {
class ParameterValues;
}

namespace refhost::frei0r {

constexpr double kDefaultFps = 25;
constexpr const char* kFpsName = "fps";
// fps comes first: ffmpeg takes the values by position, and it is the one every filter string
// there sets.
constexpr size_t kFpsIndex = 0;

// One frei0r parameter: a render setting, or (with no setting) fps.
struct FilterParameter {
    const refhost::Parameter* setting = nullptr;
    std::string name;
    bool boolean = false;
    std::string explanation;  // with the range and the default
    double defaultValue = 0;  // the frei0r value, 0..1 for the settings
};

// fps, then the settings' parameters in catalogue order.
std::vector<FilterParameter> filterParameters(const std::vector<refhost::Parameter>& catalogue);

// The setting's value for a frei0r value: a checkbox is on from 0.5 up; a slider's 0..1 maps
// linearly onto its range, held to it, and an integer slider takes the nearest whole value
// (halves away from zero).
double settingValue(const refhost::Parameter& setting, double filterValue);
// Where the setting's value lies in 0..1, the inverse for the defaults.
double filterValue(const refhost::Parameter& setting, double value);
// Sets the setting in the host's values as its own host would hold it.
void applyFilterValue(refhost::ParameterValues& values, const refhost::Parameter& setting, double filterValue);

// Shortest text that reads back as the same double.
std::string formatNumber(double v);

// The frame number the module sees for a host time: round(time x fps), the same whether the
// host plays, seeks or renders. An fps that is not a positive number is 25.
int32_t frameAt(double time, double fps);
// False for a time no host means: not a number, or one past every clip's length, which is what
// ffmpeg's filter hands over for a frame whose timestamp it lost (2^63 units scaled).
bool usableTime(double time);

}  // namespace refhost::frei0r
