// The effect's parameters as the module registered them, found by the names a user types:
// a render-settings field name ("blackNumber") or the identifier without its prefix
// ("BlackNumber"), ignoring case. Values are in the parameter's own units.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sdk/acf_base.h"

namespace refhost {
class EffectDefinition;
class EffectInstance;
}  // namespace refhost

namespace tarnix {

// Our own table of names; everything else comes from the module at run time.
struct ParameterName {
    const char* field;       // render-settings field name
    const char* identifier;  // the parameter's identifier string
};
extern const ParameterName kParameterNames[];
extern const size_t kParameterNameCount;
constexpr std::string_view kIdentifierPrefix = "Plugin_FXid_";

enum class ParameterKind { Checkbox, Integer, Number };

struct Parameter {
    std::string field;
    std::string identifier;
    std::string shortName;  // identifier without the prefix
    acfUID uid{};
    std::string label;
    std::string group;  // enclosing groups, outermost first, joined by " > "; empty at top level
    ParameterKind kind = ParameterKind::Number;
    double defaultValue = 0;
    double minimum = 0, maximum = 0;  // meaningful for sliders only
};

const char* kindName(ParameterKind kind);

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
