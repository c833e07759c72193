// The effect's parameters as the module registered them, found by the names a user types:
// a render-settings field name ("blackNumber") or the identifier without its prefix
// ("BlackNumber"), ignoring case. Values are in the parameter's own units.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "refhost/ParameterCatalog.h"

namespace refhost {
class EffectDefinition;
class EffectInstance;
}  // namespace refhost

namespace tarnix {

// The parameter table and the catalogue entries live with the reference host, which every
// host of the module shares.
using refhost::kIdentifierPrefix;
using refhost::kindName;
using refhost::kParameterNameCount;
using refhost::kParameterNames;
using refhost::Parameter;
using refhost::ParameterKind;
using refhost::ParameterName;

class ParameterCatalog {
public:
    // Fails when the module does not register one of our names.
    static ParameterCatalog fromDefinition(const refhost::EffectDefinition& definition);

    const std::vector<Parameter>& all() const { return mParameters; }
    const Parameter* find(std::string_view name) const;
    // The typed names nearest to `name`, best first, each parameter once.
    std::vector<std::string> closest(std::string_view name, size_t count) const;

private:
    std::vector<Parameter> mParameters;
};

// A parameter's value or its keys: (frame, value) pairs, linear between keys, held outside.
struct Setting {
    const Parameter* parameter = nullptr;
    std::vector<std::pair<double, double>> keys;
    bool keyed = false;
};

// "NAME=VALUE" with VALUE a number, on/off/true/false, or VALUE@FRAME,VALUE@FRAME,...
// Throws a usage Failure naming the problem.
Setting parseSetting(const ParameterCatalog& catalog, std::string_view assignment);
Setting parseSetting(const ParameterCatalog& catalog, std::string_view name, std::string_view value);
double parseValue(const Parameter& parameter, std::string_view text);

std::string formatValue(const Parameter& parameter, double value);
std::string formatSetting(const Setting& setting);  // the VALUE part, as parseSetting reads it
std::string describeRange(const Parameter& parameter);

void applySetting(const Setting& setting, refhost::EffectInstance& effect);

// Case-insensitive edit distance, for suggestions.
size_t editDistance(std::string_view a, std::string_view b);

}  // namespace tarnix
