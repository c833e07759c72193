#include "params/RenderSettings.h"

#include "lib/Common/PluginHost_API.h"
#include "lib/Common/Status.h"
#include "params/ParamDefContext.h"
#include "params/ParameterSet.h"
#include "params/ParameterTable.h"
#include "sdk/acf_ptr.h"
#include "sdk/avx_runtime.h"
#include "sdk/sdk_ids.h"

namespace {

constexpr SettingKind kindOf(ParameterKind kind) {
    return kind == ParameterKind::Checkbox  ? SettingKind::Checkbox
           : kind == ParameterKind::Integer ? SettingKind::Integer
                                            : SettingKind::Float;
}

constexpr std::array<SettingField, kSettingFieldCount> fieldsOfTable() {
    std::array<SettingField, kSettingFieldCount> fields{};
    size_t count = 0;
    int32_t slot = 0;
    for (const ParameterRow& row : kParameterRows) {
        if (row.field) fields.at(count++) = {row.field, slot, kindOf(row.kind), row.offset};
        if (row.takesSlot()) ++slot;
    }
    return fields;
}

static_assert(countRows([](const ParameterRow& row) { return row.field != nullptr; }) == kSettingFieldCount,
              "every settings field is filled by exactly one parameter");

}  // namespace

constexpr std::array<SettingField, kSettingFieldCount> kSettingFields = fieldsOfTable();

namespace {

// Two host calls per value: the parameter's value interface, then its value at `time`.
template <class T>
ACFRESULT readValue(ParamDefContext& context, const acfUID* slot, double time, const acfUID& type, T* value) {
    if (!context.valueSource || !slot) return ACF_E_FAIL;
    AcfPtr<IAVXParameterValue> parameter;
    raiseIfFailed(context.valueSource->GetParameterValue(*slot, parameter.out()));
    T read{};
    raiseIfFailed(parameter->GetValueAtTime(time, type, &read, sizeof read));
    *value = read;
    return ACF_OK;
}

}  // namespace

ACFRESULT readCheckbox(ParamDefContext& context, const acfUID* slot, double time, bool* value) {
    int32_t raw = 0;
    const ACFRESULT r = readValue(context, slot, time, TYPE_Boolean, &raw);
    if (r == ACF_OK) *value = raw == 1;
    return r;
}

ACFRESULT readInteger(ParamDefContext& context, const acfUID* slot, double time, int32_t* value) {
    return readValue(context, slot, time, TYPE_Int32, value);
}

ACFRESULT readFloat(ParamDefContext& context, const acfUID* slot, double time, float* value) {
    double raw = 0;
    const ACFRESULT r = readValue(context, slot, time, TYPE_Double, &raw);
    if (r == ACF_OK) *value = float(raw);
    return r;
}

bool captureSettings(PluginHost_API& host, RenderSettings& settings) {
    ParamDefContext& context = host.definitionContext();
    const double time = context.time;
    char* const record = reinterpret_cast<char*>(&settings);
    for (const SettingField& field : kSettingFields) {
        const acfUID* slot = slotIdentifier(field.slot);
        void* place = record + field.offset;
        switch (field.kind) {
        case SettingKind::Checkbox:
            readCheckbox(context, slot, time, static_cast<bool*>(place));
            break;
        case SettingKind::Integer:
            readInteger(context, slot, time, static_cast<int32_t*>(place));
            break;
        case SettingKind::Float: {
            float value = 0.0f;
            if (readFloat(context, slot, time, &value) == ACF_OK) *static_cast<double*>(place) = double(value);
            break;
        }
        }
    }
    settings.deepScratchColorR /= 255.0;
    settings.deepScratchColorG /= 255.0;
    settings.deepScratchColorB /= 255.0;
    return true;
}
