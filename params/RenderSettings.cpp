#include "params/RenderSettings.h"

#include "host/avx2/PluginHost_API.h"
#include "lib/Common/Status.h"
#include "params/ParamDefContext.h"
#include "params/ParameterSet.h"
#include "sdk/acf_ptr.h"
#include "sdk/avx_runtime.h"
#include "sdk/sdk_ids.h"

#define TX_FIELD(name, slot, kind) {#name, slot, SettingKind::kind, offsetof(RenderSettings, name)}

const SettingField kSettingFields[kSettingFieldCount] = {
    TX_FIELD(doFading, 0, Checkbox),
    TX_FIELD(fadeAmount, 2, Integer),
    TX_FIELD(doFunk, 4, Checkbox),
    TX_FIELD(funkOpacity, 6, Float),
    TX_FIELD(doSplotches, 8, Checkbox),
    TX_FIELD(splotchNumber, 10, Integer),
    TX_FIELD(splotchesScale, 11, Float),
    TX_FIELD(splotchesTransparency, 12, Float),
    TX_FIELD(splotchesFrequency, 13, Float),
    TX_FIELD(doDust, 15, Checkbox),
    TX_FIELD(blackNumber, 17, Integer),
    TX_FIELD(whiteNumber, 18, Integer),
    TX_FIELD(dustOpacity, 19, Float),
    TX_FIELD(dustFreq, 20, Float),
    TX_FIELD(doFlicker, 22, Checkbox),
    TX_FIELD(flickerFreq, 24, Float),
    TX_FIELD(flickerAmount, 25, Integer),
    TX_FIELD(doVignette, 27, Checkbox),
    TX_FIELD(vignetteSize, 29, Float),
    TX_FIELD(vignetteIntensity, 30, Float),
    TX_FIELD(doDisplacement, 32, Checkbox),
    TX_FIELD(displacementAmount, 34, Float),
    TX_FIELD(doMicro, 36, Checkbox),
    TX_FIELD(microNumber, 38, Integer),
    TX_FIELD(microOpacity, 39, Float),
    TX_FIELD(doGrain, 41, Checkbox),
    TX_FIELD(doColorNoise, 43, Checkbox),
    TX_FIELD(amountGrain, 44, Float),
    TX_FIELD(grainRed, 45, Float),
    TX_FIELD(grainGreen, 46, Float),
    TX_FIELD(grainBlue, 47, Float),
    TX_FIELD(softnessRed, 48, Float),
    TX_FIELD(softnessGreen, 49, Float),
    TX_FIELD(softnessBlue, 50, Float),
    TX_FIELD(suppressBlack, 51, Float),
    TX_FIELD(suppressWhite, 52, Float),
    TX_FIELD(doDeepScratch, 54, Checkbox),
    TX_FIELD(deepScratchNumber, 56, Integer),
    TX_FIELD(deepScratchDuration, 57, Integer),
    TX_FIELD(deepScratchColorR, 58, Float),
    TX_FIELD(deepScratchColorG, 59, Float),
    TX_FIELD(deepScratchColorB, 60, Float),
    TX_FIELD(doBasicScratch, 62, Checkbox),
    TX_FIELD(basicScratchNumber, 64, Integer),
    TX_FIELD(basicScratchDuration, 65, Integer),
    TX_FIELD(doInvert, 66, Checkbox),
    TX_FIELD(doGateweave, 68, Checkbox),
    TX_FIELD(gateweaveFrequency, 70, Float),
    TX_FIELD(gateweaveAmplitude, 71, Float),
    TX_FIELD(gateweaveNoiseFrequency, 72, Float),
    TX_FIELD(doContrast, 74, Checkbox),
    TX_FIELD(contrastAmount, 76, Integer),
};

#undef TX_FIELD

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
