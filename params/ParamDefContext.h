// The definition context the parameter adders share. It lives inside the host-services
// object; at render time it is also where parameter values are read from.
#pragma once

#include <cstdint>
#include <vector>

#include "sdk/acf_base.h"

struct IAVXEffectContext;
struct IACFParameterDefinition;
struct IAVXEffectDefinition;
struct IAVXLayoutNode;
class ParamLayoutBuilder;

// Option bits for the next definition only.
enum ParamDefFlags : uint32_t {
    DEF_NO_LAYOUT = 1u << 0,           // no layout entry of its own (colour channels)
    DEF_NO_PER_DEF_OPTION = 1u << 1,   // create without the host's per-definition option
    DEF_OPTION_NUMBER_1 = 1u << 2,     // slider created with option number 1
    DEF_OPTION_NUMBER_2 = 1u << 3,     // ... or 2 (wins over 1)
    DEF_SLIDER_EXTRA = 1u << 4,        // one further boolean property of a slider
    DEF_GROUP_OPTION = 1u << 5,        // group start: set the group's option property
};

struct ParamDefContext {
    uint32_t flags = 0;
    uint32_t definedCount = 0;
    IAVXEffectContext* valueSource = nullptr;  // not owned
    double time = 1.0;
    int32_t currentIndex = 0;
    int32_t channelSlot = -1;
    IACFParameterDefinition* channels[3] = {nullptr, nullptr, nullptr};  // owned references

    // Host objects used while defining (not owned). No parameter list means a dry run.
    IACFUnknown* hostComponent = nullptr;
    IAVXEffectDefinition* parameterList = nullptr;
    ParamLayoutBuilder* layout = nullptr;  // where layout entries go; none builds no layout
    // Open layout groups, innermost last (owned references).
    std::vector<IAVXLayoutNode*> openGroups;

    ParamDefContext() = default;
    ParamDefContext(const ParamDefContext&) = delete;
    ParamDefContext& operator=(const ParamDefContext&) = delete;
    ~ParamDefContext();

    void releaseChannels();
};
