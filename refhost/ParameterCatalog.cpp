#include "refhost/ParameterCatalog.h"

#include <cmath>

#include "refhost/Definitions.h"
#include "refhost/Module.h"

namespace refhost {

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

// The group of every parameter, from the layout tree the module built.
void collectGroups(const LayoutNode& node, const std::string& path, std::vector<std::pair<acfUID, std::string>>& groups) {
    if (node.controlKind == KIND_Group) {
        const std::string inner = path.empty() ? toUtf8(node.label) : path + " > " + toUtf8(node.label);
        // A colour's channels are members of the group's composite, not nodes of their own.
        if (auto* composite = dynamic_cast<const CompositeDefinition*>(node.definition))
            for (const ParameterDefinition* member : composite->members) groups.push_back({member->id, inner});
        for (const LayoutNode* child : node.children) collectGroups(*child, inner, groups);
        return;
    }
    if (auto* p = dynamic_cast<const ParameterDefinition*>(node.definition)) groups.push_back({p->id, path});
}

double numberAttribute(const ParameterDefinition& p, const acfUID& key, double fallback) {
    const Attribute* a = p.attribute(key);
    if (!a) return fallback;
    if (a->bytes.size() == 8) return a->as<double>();
    if (a->bytes.size() == 4) return a->as<int32_t>();
    return fallback;
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

std::vector<Parameter> readParameters(const EffectDefinition& definition, std::string* missing) {
    std::vector<std::pair<acfUID, std::string>> groups;
    for (const LayoutNode* node : definition.layout) collectGroups(*node, "", groups);

    std::vector<Parameter> parameters;
    for (size_t i = 0; i < kParameterNameCount; ++i) {
        Parameter p;
        p.field = kParameterNames[i].field;
        p.identifier = kParameterNames[i].identifier;
        p.shortName = p.identifier.substr(kIdentifierPrefix.size());
        p.uid = HostSession::parameterUID(p.identifier);
        const ParameterDefinition* registered = definition.parameter(p.uid);
        if (!registered) {
            if (missing) *missing = p.identifier;
            return {};
        }
        p.label = toUtf8(registered->label);
        for (const auto& [id, group] : groups)
            if (id == p.uid) p.group = group;
        p.kind = registered->dataType == TYPE_Boolean ? ParameterKind::Checkbox
               : registered->dataType == TYPE_Int32   ? ParameterKind::Integer
                                                      : ParameterKind::Number;
        p.defaultValue = numberAttribute(*registered, PROP_Default, 0);
        p.minimum = numberAttribute(*registered, PROP_Minimum, -HUGE_VAL);
        p.maximum = numberAttribute(*registered, PROP_Maximum, HUGE_VAL);
        parameters.push_back(std::move(p));
    }
    return parameters;
}

}  // namespace refhost
