// Looks: built-in presets and preset files of "name = value" lines.
#pragma once

#include <string>
#include <vector>

#include "apps/tarnix/Parameters.h"
#include "refhost/Presets.h"

namespace tarnix {

// The built-in presets live with the reference host, which every host of the module shares.
using refhost::builtInPresets;
using refhost::kHeavyPreset;
using refhost::Preset;

const Preset* findBuiltInPreset(const std::string& name);

// Which stages undo which, as the chain runs them; `tarnix presets` prints it.
const char* const kStageOrderNote =
    "The stages run in this order: fading, funk, splotches, dust, flicker, vignette, displacement,\n"
    "microscratches, grain and colour noise, deep scratches, basic scratches, gate weave, post contrast.\n"
    "Displacement (with an amount above 0) and microscratches (whenever on) start again from the\n"
    "untouched source frame: displacement replaces what fading, funk, splotches, dust, flicker and\n"
    "vignette did, and microscratches replace all of that and displacement too. Grain, deep and basic\n"
    "scratches, gate weave and post contrast work on what they leave.\n";

// Settings of a built-in preset by name, or of a preset file; throws a usage Failure.
std::vector<Setting> loadPreset(const ParameterCatalog& catalog, const std::string& nameOrFile);
// Reads preset text; `origin` names it in messages ("look.txt").
std::vector<Setting> parsePresetText(const ParameterCatalog& catalog, const std::string& text, const std::string& origin);
// A preset file with every parameter at its default, each with its label, group and range.
std::string presetTemplate(const ParameterCatalog& catalog);

}  // namespace tarnix
