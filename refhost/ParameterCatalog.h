// The effect's parameters as a loaded module registers them: our own table of names (the
// render-settings field and the identifier string), with label, group, kind, default and
// range read from the module's definitions. Shared by every host built on this library.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/acf_base.h"

namespace refhost {

class EffectDefinition;

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

// Every parameter of our table, in its order. Empty when the module does not register one
// of them, whose identifier is then put in `missing`.
std::vector<Parameter> readParameters(const EffectDefinition& definition, std::string* missing);

}  // namespace refhost
