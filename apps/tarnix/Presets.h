// Looks: built-in presets and preset files of "name = value" lines.
#pragma once

#include <string>
#include <vector>

#include "apps/tarnix/Parameters.h"

namespace tarnix {

struct Preset {
    std::string name;
    std::string description;
    std::vector<std::pair<std::string, std::string>> values;  // name, value as typed in a file
};

const std::vector<Preset>& builtInPresets();
const Preset* findBuiltInPreset(const std::string& name);
// The preset the demo uses: a heavily worn print with every stage on.
const char* const kHeavyPreset = "worn-print";

// Settings of a built-in preset by name, or of a preset file; throws a usage Failure.
std::vector<Setting> loadPreset(const ParameterCatalog& catalog, const std::string& nameOrFile);
// Reads preset text; `origin` names it in messages ("look.txt").
std::vector<Setting> parsePresetText(const ParameterCatalog& catalog, const std::string& text, const std::string& origin);
// A preset file with every parameter at its default, each with its label, group and range.
std::string presetTemplate(const ParameterCatalog& catalog);

}  // namespace tarnix
