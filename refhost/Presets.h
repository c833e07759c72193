// The built-in looks: named sets of parameter values, by render-settings field name, with the
// values as a preset file types them. Every host of the module offers the same ones.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace refhost {

struct Preset {
    std::string name;
    std::string description;
    std::vector<std::pair<std::string, std::string>> values;  // name, value as typed in a file
};

const std::vector<Preset>& builtInPresets();

// The preset the demo and the benchmarks use: a heavily worn print with every stage on whose
// work shows (displacement and microscratches would wipe out the stages before them).
const char* const kHeavyPreset = "worn-print";

}  // namespace refhost
