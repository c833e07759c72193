// The panel layout that the parameter adders build as they declare parameters: one node per
// control, nested in collapsible groups. The host binding knows how the host takes layout
// nodes and implements this; the adders only say what goes where, in declaration order.
#pragma once

#include "params/ParamDefContext.h"

struct IACFDefinition;

class ParamLayoutBuilder {
public:
    // Each of these raises a failed host status. All do nothing before the slot table is
    // ready (the dry run builds no layout).

    // A control node named "<identifier><suffix>" showing `definition`, attached at once.
    virtual void addEntry(ParamDefContext& context, const acfUID& controlKind, const char* identifier,
                          const char* suffix, const char16_t* label, IACFDefinition* definition) = 0;
    // Opens a group node named "<identifier>_layout"; `property` is the group's definition
    // (the composite of a colour group), or null.
    virtual IAVXLayoutNode* openGroup(ParamDefContext& context, const char* identifier, const char16_t* label,
                                      IACFDefinition* property, bool groupOption) = 0;
    // Closes the innermost group and attaches it to its parent.
    virtual void closeGroup(ParamDefContext& context) = 0;

protected:
    ~ParamLayoutBuilder() = default;
};
