// The effect's parameters, written once: the order the host sees them in, their kinds,
// labels, ranges and defaults, and the settings field each value-bearing one fills. The
// definitions and the per-frame settings capture are both read from this table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "params/RenderSettings.h"

enum class ParameterKind : uint8_t {
    Checkbox,
    GroupStart,
    GroupEnd,
    Integer,
    Real,
    ColorChannels,  // opens the three channel sliders of the colour that follows
    Channel,
    Color,          // the composite of the three channels before it
};

struct ParameterRow {
    ParameterKind kind;
    const char* identifier = nullptr;
    const char16_t* label = nullptr;
    double defaultValue = 0, minimum = 0, maximum = 0, fourth = 0;
    const char* field = nullptr;  // the settings field it fills, or none
    size_t offset = 0;            // where that field lies in RenderSettings

    // Every row but the colour's opening and the colour itself holds a slot of its own.
    constexpr bool takesSlot() const { return kind != ParameterKind::ColorChannels && kind != ParameterKind::Color; }
};

namespace parameter_rows {

struct Field {
    const char* name;
    size_t offset;
};
#define TX_SETTING(name) Field{#name, offsetof(RenderSettings, name)}

constexpr ParameterRow checkbox(const char* id, const char16_t* label, bool on, Field f) {
    return {ParameterKind::Checkbox, id, label, on ? 1.0 : 0.0, 0, 0, 0, f.name, f.offset};
}
constexpr ParameterRow group(const char* id, const char16_t* label) { return {ParameterKind::GroupStart, id, label}; }
constexpr ParameterRow groupEnd() { return {ParameterKind::GroupEnd}; }
constexpr ParameterRow integer(const char* id, const char16_t* label, double def, double lo, double hi, double fourth,
                               Field f) {
    return {ParameterKind::Integer, id, label, def, lo, hi, fourth, f.name, f.offset};
}
constexpr ParameterRow real(const char* id, const char16_t* label, double def, double lo, double hi, double fourth,
                            Field f) {
    return {ParameterKind::Real, id, label, def, lo, hi, fourth, f.name, f.offset};
}
constexpr ParameterRow colorChannels() { return {ParameterKind::ColorChannels}; }
// Channel sliders are declared in single precision: 0 to 255 in steps of 0.01f.
constexpr ParameterRow channel(const char* id, const char16_t* label, float def, Field f) {
    return {ParameterKind::Channel, id, label, double(def), 0.0, 255.0, double(0.01f), f.name, f.offset};
}
constexpr ParameterRow color(const char* id, const char16_t* label) { return {ParameterKind::Color, id, label}; }

inline constexpr ParameterRow kAll[] = {
    checkbox("Plugin_FXid_DoFading", u"Apply Fading", false, TX_SETTING(doFading)),
    group("Plugin_FXid_FadeGroupStart", u"Fade"),
    integer("Plugin_FXid_FadeAmount", u"Amount", 100, 0, 200, 0.5, TX_SETTING(fadeAmount)),
    groupEnd(),

    checkbox("Plugin_FXid_DoFunk", u"Apply Funk", false, TX_SETTING(doFunk)),
    group("Plugin_FXid_FunkGroupStart", u"Funk"),
    real("Plugin_FXid_FunkOpacity", u"Opacity", 15.0, 0.0, 100.0, 1.0, TX_SETTING(funkOpacity)),
    groupEnd(),

    checkbox("Plugin_FXid_DoSplotches", u"Apply Splotches", false, TX_SETTING(doSplotches)),
    group("Plugin_FXid_SplotchesGroupStart", u"Splotches"),
    integer("Plugin_FXid_SplotchNumber", u"Number", 3, 0, 100, 0.5, TX_SETTING(splotchNumber)),
    real("Plugin_FXid_SplotchesScale", u"Scale", 0.75, 0.1, 5.0, 1.0, TX_SETTING(splotchesScale)),
    real("Plugin_FXid_SplotchesTransparency", u"Transparency", 30.0, 0.0, 100.0, 1.0, TX_SETTING(splotchesTransparency)),
    real("Plugin_FXid_SplotchesFrequency", u"Frequency", 50.0, 0.0, 100.0, 1.0, TX_SETTING(splotchesFrequency)),
    groupEnd(),

    checkbox("Plugin_FXid_DoDust", u"Apply Dust", false, TX_SETTING(doDust)),
    group("Plugin_FXid_DustGroupStart", u"Dust"),
    integer("Plugin_FXid_BlackNumber", u"Black Dust Amount", 5, 0, 1000, 0.5, TX_SETTING(blackNumber)),
    integer("Plugin_FXid_WhiteNumber", u"White Dust Amount", 5, 0, 1000, 0.5, TX_SETTING(whiteNumber)),
    real("Plugin_FXid_DustOpacity", u"Opacity", 0.45, 0.0, 1.0, 0.5, TX_SETTING(dustOpacity)),
    real("Plugin_FXid_DustFreq", u"Frequency", 0.6, 0.0, 1.0, 0.5, TX_SETTING(dustFreq)),
    groupEnd(),

    checkbox("Plugin_FXid_DoFlicker", u"Apply Flicker", false, TX_SETTING(doFlicker)),
    group("Plugin_FXid_FlickerGroupStart", u"Flicker"),
    real("Plugin_FXid_FlickerFreq", u"Frequency", 0.5, 0.0, 1.0, 1.0, TX_SETTING(flickerFreq)),
    integer("Plugin_FXid_FlickerAmount", u"Amount", 10, 0, 100, 1.0, TX_SETTING(flickerAmount)),
    groupEnd(),

    checkbox("Plugin_FXid_DoVignette", u"Apply Vignette", false, TX_SETTING(doVignette)),
    group("Plugin_FXid_VignetteGroupStart", u"Vignette"),
    real("Plugin_FXid_VignetteSize", u"Size", 40.0, 1.0, 100.0, 1.0, TX_SETTING(vignetteSize)),
    real("Plugin_FXid_VignetteIntensity", u"Intensity", 70.0, 0.0, 100.0, 1.0, TX_SETTING(vignetteIntensity)),
    groupEnd(),

    checkbox("Plugin_FXid_DoDisplacement", u"Apply Displacement", false, TX_SETTING(doDisplacement)),
    group("Plugin_FXid_DisplacementGroupStart", u"Displacement"),
    real("Plugin_FXid_DisplacementAmount", u"Amount", 0.5, 0.0, 5.0, 1.0, TX_SETTING(displacementAmount)),
    groupEnd(),

    checkbox("Plugin_FXid_DoMicro", u"Apply Microscratches", false, TX_SETTING(doMicro)),
    group("Plugin_FXid_MicroscratchesGroupStart", u"Microscratches"),
    integer("Plugin_FXid_Number", u"Number", 2000, 0, 5000, 0.5, TX_SETTING(microNumber)),
    real("Plugin_FXid_Opacity", u"Opacity", 0.75, 0.0, 1.0, 0.5, TX_SETTING(microOpacity)),
    groupEnd(),

    checkbox("Plugin_FXid_DoGrain", u"Apply Grain", false, TX_SETTING(doGrain)),
    group("Plugin_FXid_GrainGroupStart", u"Grain"),
    checkbox("Plugin_FXid_DoColorNoise", u"Color Noise", true, TX_SETTING(doColorNoise)),
    real("Plugin_FXid_AmountGrain", u"Amount", 0.75, 0.0, 1.0, 0.5, TX_SETTING(amountGrain)),
    real("Plugin_FXid_Red", u"Red", 28.22, 0.0, 100.0, 0.5, TX_SETTING(grainRed)),
    real("Plugin_FXid_Green", u"Green", 35.54, 0.0, 100.0, 0.5, TX_SETTING(grainGreen)),
    real("Plugin_FXid_Blue", u"Blue", 100.0, 0.0, 100.0, 0.5, TX_SETTING(grainBlue)),
    real("Plugin_FXid_SoftnessRed", u"Softness Red", 0.1, 0.0, 10.0, 0.5, TX_SETTING(softnessRed)),
    real("Plugin_FXid_SoftnessGreen", u"Softness Green", 0.2, 0.0, 10.0, 0.5, TX_SETTING(softnessGreen)),
    real("Plugin_FXid_SoftnessBlue", u"Softness Blue", 0.4, 0.0, 10.0, 0.5, TX_SETTING(softnessBlue)),
    real("Plugin_FXid_SuppressBlack", u"Suppress Black", 20.0, 0.0, 100.0, 0.5, TX_SETTING(suppressBlack)),
    real("Plugin_FXid_SuppressWhite", u"Suppress White", 10.0, 0.0, 100.0, 0.5, TX_SETTING(suppressWhite)),
    groupEnd(),

    checkbox("Plugin_FXid_DoDeepScratch", u"Apply DeepScratch", false, TX_SETTING(doDeepScratch)),
    group("Plugin_FXid_DeepScratchGroupStart", u"Deep Scratches"),
    integer("Plugin_FXid_DeepScratchNumber", u"Number", 2, 0, 50, 0.5, TX_SETTING(deepScratchNumber)),
    integer("Plugin_FXid_DeepScratchDuration", u"Duration", 48, 1, 240, 0.5, TX_SETTING(deepScratchDuration)),
    colorChannels(),
    channel("Plugin_FXid_DeepScratchColor_R", u"Red", 82.0f, TX_SETTING(deepScratchColorR)),
    channel("Plugin_FXid_DeepScratchColor_G", u"Green", 255.0f, TX_SETTING(deepScratchColorG)),
    channel("Plugin_FXid_DeepScratchColor_B", u"Blue", 18.0f, TX_SETTING(deepScratchColorB)),
    color("Plugin_ . FXid_DeepScratchColor", u"Color"),
    groupEnd(),

    checkbox("Plugin_FXid_DoBasicScratch", u"Apply BasicScratch", false, TX_SETTING(doBasicScratch)),
    group("Plugin_FXid_BasicScratchGroupStart", u"Basic Scratches"),
    integer("Plugin_FXid_BasicScratchNumber", u"Number", 2, 0, 50, 0.5, TX_SETTING(basicScratchNumber)),
    integer("Plugin_FXid_BasicScratchDuration", u"Duration", 48, 1, 240, 0.5, TX_SETTING(basicScratchDuration)),
    checkbox("Plugin_FXid_DoInvert", u"Invert", true, TX_SETTING(doInvert)),
    groupEnd(),

    checkbox("Plugin_FXid_DoGateweave", u"Apply Gateweave", false, TX_SETTING(doGateweave)),
    group("Plugin_FXid_GateweaveGroupStart", u"Gateweave"),
    real("Plugin_FXid_Frequency", u"Weave Frequency", 0.25, 0.0, 2.0, 1.0, TX_SETTING(gateweaveFrequency)),
    real("Plugin_FXid_Amplitude", u"Amplitude", 5.0, 0.0, 20.0, 1.0, TX_SETTING(gateweaveAmplitude)),
    real("Plugin_FXid_NoiseFrequency", u"Noise Frequency", 5.0, 0.0, 100.0, 1.0, TX_SETTING(gateweaveNoiseFrequency)),
    groupEnd(),

    checkbox("Plugin_FXid_DoContrast", u"Apply PostContrast", false, TX_SETTING(doContrast)),
    group("Plugin_FXid_PostContrastGroupStart", u"Post Contrast"),
    integer("Plugin_FXid_ContrastAmount", u"Amount", 27, -100, 100, 0.5, TX_SETTING(contrastAmount)),
    groupEnd(),
};

#undef TX_SETTING

}  // namespace parameter_rows

inline constexpr auto& kParameterRows = parameter_rows::kAll;

constexpr int32_t countRows(bool (*pick)(const ParameterRow&)) {
    int32_t n = 0;
    for (const ParameterRow& row : kParameterRows) n += pick(row) ? 1 : 0;
    return n;
}
