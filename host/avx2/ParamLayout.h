// The panel layout that the parameter adders build as they declare parameters: one node
// per control, nested in collapsible groups, attached in declaration order.
#pragma once

#include "params/ParamDefContext.h"
#include "sdk/acf_definitions.h"

// Each of these raises a failed host status. All do nothing before the slot table is
// ready (the dry run builds no layout).

// A control node named "<identifier><suffix>" showing `definition`, attached at once.
void addLayoutEntry(ParamDefContext& context, const acfUID& controlKind, const char* identifier,
                    const char* suffix, const char16_t* label, IACFDefinition* definition);
// Opens a group node named "<identifier>_layout"; `property` is the group's definition
// (the composite of a colour group), or null.
IAVXLayoutNode* openLayoutGroup(ParamDefContext& context, const char* identifier, const char16_t* label,
                                IACFDefinition* property, bool groupOption);
// Closes the innermost group and attaches it to its parent.
void closeLayoutGroup(ParamDefContext& context);
