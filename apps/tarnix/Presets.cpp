#include "apps/tarnix/Presets.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "apps/tarnix/Failure.h"

namespace tarnix {

const Preset* findBuiltInPreset(const std::string& name) {
    for (const Preset& p : builtInPresets())
        if (p.name.size() == name.size() && editDistance(p.name, name) == 0) return &p;  // ignoring case
    return nullptr;
}

std::vector<Setting> parsePresetText(const ParameterCatalog& catalog, const std::string& text, const std::string& origin) {
    std::vector<Setting> settings;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        const size_t eq = line.find('=');
        const std::string where = origin + ":" + std::to_string(number) + ": ";
        if (eq == std::string::npos) throw Failure(Exit::Usage, where + "expected \"name = value\"");
        try {
            settings.push_back(parseSetting(catalog, std::string_view(line).substr(0, eq), std::string_view(line).substr(eq + 1)));
        } catch (const Failure& f) {
            throw Failure(f.code(), where + f.what());
        }
    }
    return settings;
}

std::vector<Setting> loadPreset(const ParameterCatalog& catalog, const std::string& nameOrFile) {
    if (const Preset* preset = findBuiltInPreset(nameOrFile)) {
        std::string text;
        for (const auto& [name, value] : preset->values) text += name + " = " + value + "\n";
        return parsePresetText(catalog, text, "preset " + preset->name);
    }
    struct stat st {};
    if (::stat(nameOrFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::string names;
        for (const Preset& p : builtInPresets()) names += (names.empty() ? "" : ", ") + p.name;
        throw Failure(Exit::Usage, "no preset or preset file \"" + nameOrFile + "\"; built-in presets: " + names);
    }
    std::ifstream file(nameOrFile);
    std::stringstream text;
    text << file.rdbuf();
    if (!file) throw Failure(Exit::Usage, "cannot read the preset file " + nameOrFile);
    return parsePresetText(catalog, text.str(), nameOrFile);
}

std::string presetTemplate(const ParameterCatalog& catalog) {
    std::string out =
        "# Tarnix preset: one \"name = value\" per line; '#' starts a comment; lines may be left out.\n"
        "# Values are in each parameter's own units: on/off for checkboxes, numbers for sliders,\n"
        "# or keys VALUE@FRAME,VALUE@FRAME,... (linear between keys, held outside them).\n"
        "# Use it with: tarnix render INPUT OUTPUT --preset FILE\n";
    for (const Parameter& p : catalog.all()) {
        // A blank line before each stage's checkbox keeps the stages apart.
        if (p.group.empty()) out += "\n";
        out += "# " + (p.group.empty() ? p.label : p.group + " > " + p.label) + " (" + kindName(p.kind) + ", " +
               describeRange(p) + ")\n";
        out += p.field + " = " + formatValue(p, p.defaultValue) + "\n";
    }
    return out;
}

}  // namespace tarnix
