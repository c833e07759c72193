#include "apps/tarnix/Parameters.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

#include "apps/tarnix/Failure.h"
#include "refhost/Definitions.h"
#include "refhost/Module.h"

namespace tarnix {

const ParameterName kParameterNames[] = {
    {"doFading", "Plugin_FXid_DoFading"},
    {"fadeAmount", "Plugin_FXid_FadeAmount"},
    {"doFunk", "Plugin_FXid_DoFunk"},
    {"funkOpacity", "Plugin_FXid_FunkOpacity"},
    {"doSplotches", "Plugin_FXid_DoSplotches"},
    {"splotchNumber", "Plugin_FXid_SplotchNumber"},
    {"splotchesScale", "Plugin_FXid_SplotchesScale"},
    {"splotchesTransparency", "Plugin_FXid_SplotchesTransparency"},
    {"splotchesFrequency", "Plugin_FXid_SplotchesFrequency"},
    {"doDust", "Plugin_FXid_DoDust"},
    {"blackNumber", "Plugin_FXid_BlackNumber"},
    {"whiteNumber", "Plugin_FXid_WhiteNumber"},
    {"dustOpacity", "Plugin_FXid_DustOpacity"},
    {"dustFreq", "Plugin_FXid_DustFreq"},
    {"doFlicker", "Plugin_FXid_DoFlicker"},
    {"flickerFreq", "Plugin_FXid_FlickerFreq"},
    {"flickerAmount", "Plugin_FXid_FlickerAmount"},
    {"doVignette", "Plugin_FXid_DoVignette"},
    {"vignetteSize", "Plugin_FXid_VignetteSize"},
    {"vignetteIntensity", "Plugin_FXid_VignetteIntensity"},
    {"doDisplacement", "Plugin_FXid_DoDisplacement"},
    {"displacementAmount", "Plugin_FXid_DisplacementAmount"},
    {"doMicro", "Plugin_FXid_DoMicro"},
    {"microNumber", "Plugin_FXid_Number"},
    {"microOpacity", "Plugin_FXid_Opacity"},
    {"doGrain", "Plugin_FXid_DoGrain"},
    {"doColorNoise", "Plugin_FXid_DoColorNoise"},
    {"amountGrain", "Plugin_FXid_AmountGrain"},
    {"grainRed", "Plugin_FXid_Red"},
    {"grainGreen", "Plugin_FXid_Green"},
    {"grainBlue", "Plugin_FXid_Blue"},
    {"softnessRed", "Plugin_FXid_SoftnessRed"},
    {"softnessGreen", "Plugin_FXid_SoftnessGreen"},
    {"softnessBlue", "Plugin_FXid_SoftnessBlue"},
    {"suppressBlack", "Plugin_FXid_SuppressBlack"},
    {"suppressWhite", "Plugin_FXid_SuppressWhite"},
    {"doDeepScratch", "Plugin_FXid_DoDeepScratch"},
    {"deepScratchNumber", "Plugin_FXid_DeepScratchNumber"},
    {"deepScratchDuration", "Plugin_FXid_DeepScratchDuration"},
    {"deepScratchColorR", "Plugin_FXid_DeepScratchColor_R"},
    {"deepScratchColorG", "Plugin_FXid_DeepScratchColor_G"},
    {"deepScratchColorB", "Plugin_FXid_DeepScratchColor_B"},
    {"doBasicScratch", "Plugin_FXid_DoBasicScratch"},
    {"basicScratchNumber", "Plugin_FXid_BasicScratchNumber"},
    {"basicScratchDuration", "Plugin_FXid_BasicScratchDuration"},
    {"doInvert", "Plugin_FXid_DoInvert"},
    {"doGateweave", "Plugin_FXid_DoGateweave"},
    {"gateweaveFrequency", "Plugin_FXid_Frequency"},
    {"gateweaveAmplitude", "Plugin_FXid_Amplitude"},
    {"gateweaveNoiseFrequency", "Plugin_FXid_NoiseFrequency"},
    {"doContrast", "Plugin_FXid_DoContrast"},
    {"contrastAmount", "Plugin_FXid_ContrastAmount"},
};
const size_t kParameterNameCount = sizeof kParameterNames / sizeof kParameterNames[0];

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// The group of every parameter, from the layout tree the module built.
void collectGroups(const refhost::LayoutNode& node, const std::string& path,
                   std::vector<std::pair<acfUID, std::string>>& groups) {
    if (node.controlKind == KIND_Group) {
        const std::string inner = path.empty() ? refhost::toUtf8(node.label) : path + " > " + refhost::toUtf8(node.label);
        // A colour's channels are members of the group's composite, not nodes of their own.
        if (auto* composite = dynamic_cast<const refhost::CompositeDefinition*>(node.definition))
            for (const refhost::ParameterDefinition* member : composite->members) groups.push_back({member->id, inner});
        for (const refhost::LayoutNode* child : node.children) collectGroups(*child, inner, groups);
        return;
    }
    if (auto* p = dynamic_cast<const refhost::ParameterDefinition*>(node.definition)) groups.push_back({p->id, path});
}

double numberAttribute(const refhost::ParameterDefinition& p, const acfUID& key, double fallback) {
    const refhost::Attribute* a = p.attribute(key);
    if (!a) return fallback;
    if (a->bytes.size() == 8) return a->as<double>();
    if (a->bytes.size() == 4) return a->as<int32_t>();
    return fallback;
}

std::optional<double> parseNumber(std::string_view text) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::string quoted(std::string_view s) {
    std::string text(1, '"');
    text.append(s);
    text.push_back('"');
    return text;
}

}  // namespace

const char* kindName(ParameterKind kind) {
    switch (kind) {
    case ParameterKind::Checkbox: return "checkbox";
    case ParameterKind::Integer: return "integer";
    case ParameterKind::Number: return "number";
    }
    return "?";
}

size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

ParameterCatalog ParameterCatalog::fromDefinition(const refhost::EffectDefinition& definition) {
    std::vector<std::pair<acfUID, std::string>> groups;
    for (const refhost::LayoutNode* node : definition.layout) collectGroups(*node, "", groups);

    ParameterCatalog catalog;
    for (size_t i = 0; i < kParameterNameCount; ++i) {
        Parameter p;
        p.field = kParameterNames[i].field;
        p.identifier = kParameterNames[i].identifier;
        p.shortName = p.identifier.substr(kIdentifierPrefix.size());
        p.uid = refhost::HostSession::parameterUID(p.identifier);
        const refhost::ParameterDefinition* registered = definition.parameter(p.uid);
        if (!registered)
            throw Failure(Exit::Environment, "the module does not register the parameter " + p.identifier +
                                                 "; is it a Tarnix module of another version?");
        p.label = refhost::toUtf8(registered->label);
        for (const auto& [id, group] : groups)
            if (id == p.uid) p.group = group;
        p.kind = registered->dataType == TYPE_Boolean ? ParameterKind::Checkbox
               : registered->dataType == TYPE_Int32   ? ParameterKind::Integer
                                                      : ParameterKind::Number;
        p.defaultValue = numberAttribute(*registered, PROP_Default, 0);
        p.minimum = numberAttribute(*registered, PROP_Minimum, -HUGE_VAL);
        p.maximum = numberAttribute(*registered, PROP_Maximum, HUGE_VAL);
        catalog.mParameters.push_back(std::move(p));
    }
    return catalog;
}

const Parameter* ParameterCatalog::find(std::string_view name) const {
    for (const Parameter& p : mParameters)
        if (sameIgnoringCase(name, p.field) || sameIgnoringCase(name, p.shortName) || sameIgnoringCase(name, p.identifier))
            return &p;
    return nullptr;
}

std::vector<std::string> ParameterCatalog::closest(std::string_view name, size_t count) const {
    struct Candidate {
        size_t score;
        size_t order;
        std::string name;
    };
    std::vector<Candidate> candidates;
    for (size_t i = 0; i < mParameters.size(); ++i) {
        const Parameter& p = mParameters[i];
        size_t best = SIZE_MAX;
        std::string bestName;
        for (const std::string& candidate : {p.field, p.shortName}) {
            size_t d = editDistance(name, candidate);
            // A typed fragment of a longer name ("dust") is a strong hint.
            std::string lowerCandidate(candidate), lowerName(name);
            for (char& c : lowerCandidate) c = lower(c);
            for (char& c : lowerName) c = lower(c);
            if (lowerName.size() >= 3 && lowerCandidate.find(lowerName) != std::string::npos) d = std::min<size_t>(d, 1);
            if (d < best) best = d, bestName = candidate;
        }
        candidates.push_back({best, i, bestName});
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.score != b.score ? a.score < b.score : a.order < b.order; });
    // Far-fetched names only distract; the nearest one is always offered.
    const size_t plausible = std::max<size_t>(2, name.size() / 2);
    std::vector<std::string> names;
    for (size_t i = 0; i < candidates.size() && names.size() < count; ++i)
        if (i == 0 || candidates[i].score <= plausible) names.push_back(candidates[i].name);
    return names;
}

std::string describeRange(const Parameter& p) {
    if (p.kind == ParameterKind::Checkbox) return "on or off";
    return formatValue(p, p.minimum) + " to " + formatValue(p, p.maximum);
}

std::string formatValue(const Parameter& p, double value) {
    if (p.kind == ParameterKind::Checkbox) return value != 0 ? "on" : "off";
    char text[64];
    if (p.kind == ParameterKind::Integer) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else {
        // Shortest text that reads back as the same double.
        auto [end, ec] = std::to_chars(text, text + sizeof text - 1, value);
        *end = 0;
        (void)ec;
    }
    return text;
}

std::string formatSetting(const Setting& s) {
    if (!s.keyed) return formatValue(*s.parameter, s.keys.front().second);
    std::string text;
    for (const auto& [frame, value] : s.keys) {
        if (!text.empty()) text += ',';
        char f[32];
        auto [end, ec] = std::to_chars(f, f + sizeof f - 1, frame);
        *end = 0;
        (void)ec;
        text += formatValue(*s.parameter, value) + "@" + f;
    }
    return text;
}

double parseValue(const Parameter& p, std::string_view text) {
    text = trim(text);
    const std::string where = p.field + "=" + std::string(text);
    if (p.kind == ParameterKind::Checkbox) {
        for (const char* on : {"on", "true", "yes", "1"})
            if (sameIgnoringCase(text, on)) return 1;
        for (const char* off : {"off", "false", "no", "0"})
            if (sameIgnoringCase(text, off)) return 0;
        throw Failure(Exit::Usage, where + ": " + p.field + " is a checkbox; use on or off");
    }
    const std::optional<double> v = parseNumber(text);
    if (!v) throw Failure(Exit::Usage, where + ": not a number");
    if (p.kind == ParameterKind::Integer && *v != std::floor(*v))
        throw Failure(Exit::Usage, where + ": " + p.field + " takes whole numbers");
    if (*v < p.minimum || *v > p.maximum) {
        const std::string owner = p.group.empty() ? p.label : p.group + " > " + p.label;
        throw Failure(Exit::Usage, where + " is out of range: " + p.field + " (" + owner + ") takes " + describeRange(p));
    }
    return *v;
}

Setting parseSetting(const ParameterCatalog& catalog, std::string_view name, std::string_view value) {
    name = trim(name);
    Setting s;
    s.parameter = catalog.find(name);
    if (!s.parameter) {
        std::string list;
        for (const std::string& n : catalog.closest(name, 3)) list += (list.empty() ? "" : ", ") + n;
        throw Failure(Exit::Usage, "unknown parameter " + quoted(name) + "; closest: " + list +
                                       " (tarnix params lists them all)");
    }
    value = trim(value);
    if (value.empty()) throw Failure(Exit::Usage, std::string(name) + "= needs a value");
    if (value.find('@') == std::string_view::npos) {
        s.keys.push_back({0.0, parseValue(*s.parameter, value)});
        return s;
    }
    s.keyed = true;
    while (!value.empty()) {
        const size_t comma = value.find(',');
        const std::string_view key = trim(value.substr(0, comma));
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
        const size_t at = key.find('@');
        if (at == std::string_view::npos)
            throw Failure(Exit::Usage, s.parameter->field + ": key " + quoted(key) + " needs the form VALUE@FRAME");
        const std::optional<double> frame = parseNumber(key.substr(at + 1));
        if (!frame) throw Failure(Exit::Usage, s.parameter->field + ": key " + quoted(key) + " has no frame number after @");
        const double v = parseValue(*s.parameter, key.substr(0, at));
        for (const auto& k : s.keys)
            if (k.first == *frame)
                throw Failure(Exit::Usage, s.parameter->field + ": two keys at frame " + std::string(trim(key.substr(at + 1))));
        s.keys.push_back({*frame, v});
    }
    std::sort(s.keys.begin(), s.keys.end());
    return s;
}

Setting parseSetting(const ParameterCatalog& catalog, std::string_view assignment) {
    const size_t eq = assignment.find('=');
    if (eq == std::string_view::npos)
        throw Failure(Exit::Usage, "--set " + quoted(assignment) + " needs the form NAME=VALUE");
    return parseSetting(catalog, assignment.substr(0, eq), assignment.substr(eq + 1));
}

void applySetting(const Setting& s, refhost::EffectInstance& effect) {
    const bool known = s.keyed ? effect.setKeys(s.parameter->identifier, s.keys)
                               : effect.set(s.parameter->identifier, s.keys.front().second);
    if (!known) throw Failure(Exit::Environment, "the effect instance does not know " + s.parameter->identifier);
}

}  // namespace tarnix
