// One plain record per frame with every value-bearing parameter, in parameter order.
// The stages read only this record, never the host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sdk/acf_base.h"

struct ParamDefContext;
class PluginHost_API;

struct RenderSettings {
    bool doFading = false;
    int32_t fadeAmount = 0;
    bool doFunk = false;
    double funkOpacity = 0;
    bool doSplotches = false;
    int32_t splotchNumber = 0;
    double splotchesScale = 0;
    double splotchesTransparency = 0;
    double splotchesFrequency = 0;
    bool doDust = false;
    int32_t blackNumber = 0;
    int32_t whiteNumber = 0;
    double dustOpacity = 0;
    double dustFreq = 0;
    bool doFlicker = false;
    double flickerFreq = 0;
    int32_t flickerAmount = 0;
    bool doVignette = false;
    double vignetteSize = 0;
    double vignetteIntensity = 0;
    bool doDisplacement = false;
    double displacementAmount = 0;
    bool doMicro = false;
    int32_t microNumber = 0;
    double microOpacity = 0;
    bool doGrain = false;
    bool doColorNoise = false;
    double amountGrain = 0;
    double grainRed = 0;
    double grainGreen = 0;
    double grainBlue = 0;
    double softnessRed = 0;
    double softnessGreen = 0;
    double softnessBlue = 0;
    double suppressBlack = 0;
    double suppressWhite = 0;
    bool doDeepScratch = false;
    int32_t deepScratchNumber = 0;
    int32_t deepScratchDuration = 0;
    double deepScratchColorR = 0;
    double deepScratchColorG = 0;
    double deepScratchColorB = 0;
    bool doBasicScratch = false;
    int32_t basicScratchNumber = 0;
    int32_t basicScratchDuration = 0;
    bool doInvert = false;
    bool doGateweave = false;
    double gateweaveFrequency = 0;
    double gateweaveAmplitude = 0;
    double gateweaveNoiseFrequency = 0;
    bool doContrast = false;
    int32_t contrastAmount = 0;
};

enum class SettingKind { Checkbox, Integer, Float };

// Where each field comes from: its slot, how it is read, where it is stored; derived from
// the parameter table.
struct SettingField {
    const char* name;
    int32_t slot;
    SettingKind kind;
    size_t offset;
};
constexpr int kSettingFieldCount = 52;
extern const std::array<SettingField, kSettingFieldCount> kSettingFields;

// The three readers. No value source or no identifier: 0x80000008 and nothing written.
// A failed host call is raised.
ACFRESULT readCheckbox(ParamDefContext& context, const acfUID* slot, double time, bool* value);
ACFRESULT readInteger(ParamDefContext& context, const acfUID* slot, double time, int32_t* value);
ACFRESULT readFloat(ParamDefContext& context, const acfUID* slot, double time, float* value);

// Reads every field at the definition context's time. Always true; host failures are raised.
bool captureSettings(PluginHost_API& host, RenderSettings& settings);
