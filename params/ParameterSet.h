// The effect's 78 parameter slots: the process-wide table of their identifiers, the adders
// that declare them to the host, and the routine that declares them all in slot order.
#pragma once

#include <cstdint>

#include "params/ParamDefContext.h"
#include "sdk/acf_base.h"

class PluginHost_API;

constexpr int32_t kParameterSlotCount = 78;

// The plug-in's own identifier; also the name space of every derived identifier.
inline constexpr acfUID kTarnixPluginId = {0x49D9089D, 0x7281, 0x4051, {0x93, 0x91, 0x3D, 0x6C, 0xDA, 0x11, 0xB7, 0x8B}};

// Slot table. Null for an index at or past the table size (or before any set-up).
const acfUID* slotIdentifier(int32_t index);
bool slotTableReady();
void setSlotTableReady(bool ready);

// Prepares the context for a definition pass: a new, zeroed slot table of slotCount
// entries; the table is ready when a parameter list is given (a full pass), whose layout
// entries go to `layout`.
void setupDefinitionContext(ParamDefContext& context, IACFUnknown* hostComponent,
                            IAVXEffectDefinition* parameterList, ParamLayoutBuilder* layout, int32_t slotCount);

// Derives the host identifier of "com.vorlane.<name>".
ACFRESULT deriveIdentifier(ParamDefContext& context, const char* name, acfUID* out);

// The adders. Each returns a host status; failures do not stop the caller.
ACFRESULT addCheckbox(ParamDefContext& context, const char* identifier, const char16_t* label, bool defaultOn);
ACFRESULT beginGroup(ParamDefContext& context, const char* identifier, const char16_t* label, int32_t enablerIndex);
ACFRESULT endGroup(ParamDefContext& context);
ACFRESULT addSlider(ParamDefContext& context, const acfUID& dataType, const char* identifier, const char16_t* label,
                    double defaultValue, double minimum, double maximum, double fourth, int32_t controlVariant);
ACFRESULT addChannelSlider(ParamDefContext& context, const char* identifier, const char16_t* label,
                           float defaultValue, float minimum, float maximum, float fourth);
ACFRESULT beginColorChannels(ParamDefContext& context);
ACFRESULT addColor(ParamDefContext& context, const char* identifier, const char16_t* label, int32_t hsvLabels);

// Declares every slot in index order through the host-services object's definition context.
void defineParameters(PluginHost_API& host);
