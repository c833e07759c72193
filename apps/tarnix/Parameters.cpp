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
    std::string missing;
    ParameterCatalog catalog;
    catalog.mParameters = refhost::readParameters(definition, &missing);
    if (catalog.mParameters.empty())
        throw Failure(Exit::Environment, "the module does not register the parameter " + missing +
                                             "; is it a Tarnix module of another version?");
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
