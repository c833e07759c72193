#include "params/ParameterSet.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "lib/Common/PluginHost_API.h"
#include "lib/Common/Status.h"
#include "params/ParamLayout.h"
#include "sdk/acf_definitions.h"
#include "sdk/acf_ptr.h"
#include "sdk/sdk_ids.h"

namespace {

// Process-wide: filled by whichever definition pass ran last, read by every render.
std::unique_ptr<acfUID[]> gSlotTable;
int32_t gSlotCount = 0;
bool gSlotTableReady = false;

bool isDryRun(const ParamDefContext& context) { return context.parameterList == nullptr; }

// Value-bearing slots: the identifier goes into the table at the current index.
acfUID deriveSlotIdentifier(ParamDefContext& context, const char* identifier) {
    acfUID uid{};
    raiseIfFailed(deriveIdentifier(context, identifier, &uid));
    if (context.currentIndex >= 0 && context.currentIndex < gSlotCount) gSlotTable[context.currentIndex] = uid;
    context.definedCount++;
    context.flags = 0;
    return uid;
}

AcfPtr<IACFDefinitionFactory> definitionFactory(ParamDefContext& context) {
    AcfPtr<IACFDefinitionFactory> factory;
    raiseIfFailed(context.hostComponent->QueryInterface(IID_IACFDefinitionFactory, factory.outVoid()));
    return factory;
}

template <class T>
void setAttribute(IACFDefinition* definition, const acfUID& key, const acfUID& type, const T& value) {
    raiseIfFailed(definition->SetAttribute(key, type, &value, sizeof value));
}

// Layout entries go to whoever the context names; without one there is no layout.
void addLayoutEntry(ParamDefContext& context, const acfUID& controlKind, const char* identifier, const char* suffix,
                    const char16_t* label, IACFDefinition* definition) {
    if (context.layout) context.layout->addEntry(context, controlKind, identifier, suffix, label, definition);
}

IAVXLayoutNode* openLayoutGroup(ParamDefContext& context, const char* identifier, const char16_t* label,
                                IACFDefinition* property, bool groupOption) {
    return context.layout ? context.layout->openGroup(context, identifier, label, property, groupOption) : nullptr;
}

void closeLayoutGroup(ParamDefContext& context) {
    if (context.layout) context.layout->closeGroup(context);
}

}  // namespace

ParamDefContext::~ParamDefContext() {
    releaseChannels();
    for (IAVXLayoutNode* group : openGroups) group->Release();
}

void ParamDefContext::releaseChannels() {
    for (IACFParameterDefinition*& channel : channels) {
        if (channel) channel->Release();
        channel = nullptr;
    }
}

const acfUID* slotIdentifier(int32_t index) {
    if (!gSlotTable || index < 0 || index >= gSlotCount) return nullptr;
    return &gSlotTable[index];
}

bool slotTableReady() { return gSlotTableReady; }
void setSlotTableReady(bool ready) { gSlotTableReady = ready; }

void setupDefinitionContext(ParamDefContext& context, IACFUnknown* hostComponent, IAVXEffectDefinition* parameterList,
                            ParamLayoutBuilder* layout, int32_t slotCount) {
    context.hostComponent = hostComponent;
    context.parameterList = parameterList;
    context.layout = layout;
    context.flags = 0;
    context.definedCount = 0;
    context.channelSlot = -1;
    context.releaseChannels();
    if (slotCount < 0) slotCount = 0;
    gSlotTable.reset(new acfUID[size_t(slotCount)]());
    gSlotCount = slotCount;
    gSlotTableReady = parameterList != nullptr;
}

ACFRESULT deriveIdentifier(ParamDefContext& context, const char* name, acfUID* out) {
    if (!context.hostComponent) return ACF_E_POINTER;
    AcfPtr<IACFUIDService> service;
    ACFRESULT r = context.hostComponent->QueryInterface(IID_IACFUIDService, service.outVoid());
    if (ACFFailed(r)) return r;
    const std::string qualified = std::string("com.vorlane.") + name;
    return service->DeriveUID(kTarnixPluginId, qualified.c_str(), out);
}

ACFRESULT addCheckbox(ParamDefContext& context, const char* identifier, const char16_t* label, bool defaultOn) {
    return hostBoundary([&]() -> ACFRESULT {
        const uint32_t flags = context.flags;
        const acfUID uid = deriveSlotIdentifier(context, identifier);
        if (isDryRun(context)) return ACF_OK;

        AcfPtr<IACFParameterDefinition> definition;
        raiseIfFailed(definitionFactory(context)->CreateDefinition(CLSID_ParameterDefinition,
                                                                   IID_IACFParameterDefinition, definition.outVoid()));
        raiseIfFailed(definition->InitializeParameter(uid, TYPE_Boolean, label, u"",
                                                      !(flags & DEF_NO_PER_DEF_OPTION), 0));
        setAttribute(definition.get(), PROP_Default, TYPE_Boolean, int32_t(defaultOn ? 1 : 0));
        raiseIfFailed(context.parameterList->AddParameter(definition.get()));
        if (!(flags & DEF_NO_LAYOUT))
            addLayoutEntry(context, KIND_Checkbox, identifier, "_layout", label, definition.get());
        return ACF_OK;
    });
}

ACFRESULT beginGroup(ParamDefContext& context, const char* identifier, const char16_t* label, int32_t enablerIndex) {
    return hostBoundary([&]() -> ACFRESULT {
        const uint32_t flags = context.flags;
        if (isDryRun(context)) return ACF_OK;
        IAVXLayoutNode* group =
            openLayoutGroup(context, identifier, label, nullptr, (flags & DEF_GROUP_OPTION) != 0);
        context.flags = 0;
        if (group && enablerIndex != -1) {
            const std::string enablerName = std::string(identifier) + "_layout_enabler";
            acfUID enabler{};
            raiseIfFailed(deriveIdentifier(context, enablerName.c_str(), &enabler));
            if (enablerIndex >= 0 && enablerIndex < gSlotCount) gSlotTable[enablerIndex] = enabler;
            setAttribute(group, PROP_GroupEnabler, TYPE_UID, enabler);
        }
        return ACF_OK;
    });
}

ACFRESULT endGroup(ParamDefContext& context) {
    return hostBoundary([&]() -> ACFRESULT {
        if (!isDryRun(context)) closeLayoutGroup(context);
        return ACF_OK;
    });
}

ACFRESULT addSlider(ParamDefContext& context, const acfUID& dataType, const char* identifier, const char16_t* label,
                    double defaultValue, double minimum, double maximum, double fourth, int32_t controlVariant) {
    return hostBoundary([&]() -> ACFRESULT {
        const uint32_t flags = context.flags;
        const acfUID uid = deriveSlotIdentifier(context, identifier);
        if (isDryRun(context)) return ACF_OK;

        const int32_t optionNumber = (flags & DEF_OPTION_NUMBER_2) ? 2 : (flags & DEF_OPTION_NUMBER_1) ? 1 : 0;
        AcfPtr<IACFParameterDefinition> definition;
        raiseIfFailed(definitionFactory(context)->CreateDefinition(CLSID_ParameterDefinition,
                                                                   IID_IACFParameterDefinition, definition.outVoid()));
        raiseIfFailed(definition->InitializeParameter(uid, dataType, label, u"", !(flags & DEF_NO_PER_DEF_OPTION),
                                                      optionNumber));
        setAttribute(definition.get(), PROP_Default, TYPE_Double, defaultValue);
        setAttribute(definition.get(), PROP_Minimum, TYPE_Double, minimum);
        setAttribute(definition.get(), PROP_Maximum, TYPE_Double, maximum);
        setAttribute(definition.get(), PROP_SliderPrecision, TYPE_Double, fourth);
        if (flags & DEF_SLIDER_EXTRA) setAttribute(definition.get(), PROP_SliderExtra, TYPE_Boolean, int32_t(1));
        raiseIfFailed(context.parameterList->AddParameter(definition.get()));

        if (context.channelSlot != -1) {
            if (context.channelSlot >= 0 && context.channelSlot < 3) {
                IACFParameterDefinition*& place = context.channels[context.channelSlot];
                if (place) place->Release();
                place = definition.detach();
                context.channelSlot++;
            }
            return ACF_OK;
        }
        if (!(flags & DEF_NO_LAYOUT)) {
            const acfUID& kind = controlVariant == 1 ? KIND_SliderFine : controlVariant == 2 ? KIND_SliderCoarse : KIND_Slider;
            addLayoutEntry(context, kind, identifier, "_layout", label, definition.get());
        }
        return ACF_OK;
    });
}

ACFRESULT addChannelSlider(ParamDefContext& context, const char* identifier, const char16_t* label, float defaultValue,
                           float minimum, float maximum, float fourth) {
    return addSlider(context, TYPE_Double, identifier, label, double(defaultValue), double(minimum), double(maximum),
                     double(fourth), 0);
}

ACFRESULT beginColorChannels(ParamDefContext& context) {
    context.channelSlot = 0;
    return ACF_OK;
}

ACFRESULT addColor(ParamDefContext& context, const char* identifier, const char16_t* label, int32_t hsvLabels) {
    return hostBoundary([&]() -> ACFRESULT {
        const uint32_t flags = context.flags;
        context.channelSlot = -1;
        if (isDryRun(context)) {
            context.releaseChannels();
            return ACF_OK;
        }
        // The channels are ours from here on, whatever happens below.
        AcfPtr<IACFParameterDefinition> members[3];
        for (int i = 0; i < 3; ++i) {
            members[i].reset(context.channels[i]);
            context.channels[i] = nullptr;
        }

        acfUID propertyId{};
        raiseIfFailed(deriveIdentifier(context, (std::string(identifier) + "_RGBprop").c_str(), &propertyId));
        context.flags = 0;
        AcfPtr<IACFCompositeDefinition> composite;
        raiseIfFailed(definitionFactory(context)->CreateDefinition(CLSID_CompositeDefinition,
                                                                   IID_IACFCompositeDefinition, composite.outVoid()));
        IACFParameterDefinition* const raw[3] = {members[0].get(), members[1].get(), members[2].get()};
        const acfUID& colorType = hsvLabels ? TYPE_ColorHSV : TYPE_ColorRGB;
        raiseIfFailed(composite->InitializeComposite(propertyId, colorType, label, u"", raw, 3));
        const double low[3] = {0.0, 0.0, 0.0};
        const double high[3] = {255.0, 255.0, 255.0};
        raiseIfFailed(composite->SetAttribute(PROP_Minimum, colorType, low, sizeof low));
        raiseIfFailed(composite->SetAttribute(PROP_Maximum, colorType, high, sizeof high));

        const size_t depth = context.openGroups.size();
        openLayoutGroup(context, identifier, label, composite.get(), (flags & DEF_GROUP_OPTION) != 0);
        try {
            static const char* const suffixes[3] = {"_layoutR", "_layoutG", "_layoutB"};
            static const char16_t* const rgbLabels[3] = {u"Red", u"Green", u"Blue"};
            static const char16_t* const hsvNames[3] = {u"Hue", u"Sat", u"Val"};
            for (int i = 0; i < 3; ++i)
                addLayoutEntry(context, KIND_Slider, identifier, suffixes[i], hsvLabels ? hsvNames[i] : rgbLabels[i],
                               members[i].get());
        } catch (...) {
            // A half-built colour group is dropped, not attached.
            while (context.openGroups.size() > depth) {
                context.openGroups.back()->Release();
                context.openGroups.pop_back();
            }
            throw;
        }
        closeLayoutGroup(context);
        return ACF_OK;
    });
}
