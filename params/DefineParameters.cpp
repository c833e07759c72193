// The effect's parameter list, declared in slot order from the parameter table. Each stage
// has its checkbox at the top level followed by a group with its controls.
#include "lib/Common/PluginHost_API.h"
#include "params/ParameterSet.h"
#include "params/ParameterTable.h"
#include "sdk/sdk_ids.h"

static_assert(countRows([](const ParameterRow& row) { return row.takesSlot(); }) == kParameterSlotCount,
              "one table row per parameter slot");

void defineParameters(PluginHost_API& host) {
    ParamDefContext& c = host.definitionContext();
    int32_t index = 0;
    // Adder results are not acted on: a failed definition must not cost the others.
    for (const ParameterRow& row : kParameterRows) {
        if (row.takesSlot()) c.currentIndex = index++;
        switch (row.kind) {
        case ParameterKind::Checkbox:
            c.flags = DEF_GROUP_OPTION;
            addCheckbox(c, row.identifier, row.label, row.defaultValue != 0);
            break;
        case ParameterKind::GroupStart:
            c.flags = DEF_GROUP_OPTION;
            beginGroup(c, row.identifier, row.label, -1);
            break;
        case ParameterKind::GroupEnd:
            endGroup(c);
            break;
        case ParameterKind::Integer:
        case ParameterKind::Real:
            addSlider(c, row.kind == ParameterKind::Integer ? TYPE_Int32 : TYPE_Double, row.identifier, row.label,
                      row.defaultValue, row.minimum, row.maximum, row.fourth, 0);
            break;
        case ParameterKind::ColorChannels:
            c.flags = DEF_GROUP_OPTION;
            beginColorChannels(c);
            break;
        case ParameterKind::Channel:
            c.flags = DEF_NO_LAYOUT;
            addChannelSlider(c, row.identifier, row.label, float(row.defaultValue), float(row.minimum),
                             float(row.maximum), float(row.fourth));
            break;
        case ParameterKind::Color:
            // The colour takes no slot of its own; its odd identifier is the stem of its layout names.
            c.flags = DEF_GROUP_OPTION;
            addColor(c, row.identifier, row.label, 0);
            break;
        }
    }
}
