// The effect's parameter list, declared in slot order. Each stage has its checkbox at the
// top level followed by a group with its controls.
#include "host/avx2/PluginHost_API.h"
#include "params/ParameterSet.h"
#include "sdk/sdk_ids.h"

namespace {

struct Definer {
    ParamDefContext& c;
    int32_t index = 0;

    // Adder results are not acted on: a failed definition must not cost the others.
    void checkbox(const char* id, const char16_t* label, bool on) {
        c.currentIndex = index++;
        c.flags = DEF_GROUP_OPTION;
        addCheckbox(c, id, label, on);
    }
    void group(const char* id, const char16_t* label) {
        c.currentIndex = index++;
        c.flags = DEF_GROUP_OPTION;
        beginGroup(c, id, label, -1);
    }
    void end() {
        c.currentIndex = index++;
        endGroup(c);
    }
    void integer(const char* id, const char16_t* label, double def, double lo, double hi, double fourth) {
        c.currentIndex = index++;
        addSlider(c, TYPE_Int32, id, label, def, lo, hi, fourth, 0);
    }
    void real(const char* id, const char16_t* label, double def, double lo, double hi, double fourth) {
        c.currentIndex = index++;
        addSlider(c, TYPE_Double, id, label, def, lo, hi, fourth, 0);
    }
    void channel(const char* id, const char16_t* label, float def) {
        c.currentIndex = index++;
        c.flags = DEF_NO_LAYOUT;
        addChannelSlider(c, id, label, def, 0.0f, 255.0f, 0.01f);
    }
};

}  // namespace

void defineParameters(PluginHost_API& host) {
    Definer d{host.definitionContext()};

    d.checkbox("Plugin_FXid_DoFading", u"Apply Fading", false);
    d.group("Plugin_FXid_FadeGroupStart", u"Fade");
    d.integer("Plugin_FXid_FadeAmount", u"Amount", 100, 0, 200, 0.5);
    d.end();

    d.checkbox("Plugin_FXid_DoFunk", u"Apply Funk", false);
    d.group("Plugin_FXid_FunkGroupStart", u"Funk");
    d.real("Plugin_FXid_FunkOpacity", u"Opacity", 15.0, 0.0, 100.0, 1.0);
    d.end();

    d.checkbox("Plugin_FXid_DoSplotches", u"Apply Splotches", false);
    d.group("Plugin_FXid_SplotchesGroupStart", u"Splotches");
    d.integer("Plugin_FXid_SplotchNumber", u"Number", 3, 0, 100, 0.5);
    d.real("Plugin_FXid_SplotchesScale", u"Scale", 0.75, 0.1, 5.0, 1.0);
    d.real("Plugin_FXid_SplotchesTransparency", u"Transparency", 30.0, 0.0, 100.0, 1.0);
    d.real("Plugin_FXid_SplotchesFrequency", u"Frequency", 50.0, 0.0, 100.0, 1.0);
    d.end();

    d.checkbox("Plugin_FXid_DoDust", u"Apply Dust", false);
    d.group("Plugin_FXid_DustGroupStart", u"Dust");
    d.integer("Plugin_FXid_BlackNumber", u"Black Dust Amount", 5, 0, 1000, 0.5);
    d.integer("Plugin_FXid_WhiteNumber", u"White Dust Amount", 5, 0, 1000, 0.5);
    d.real("Plugin_FXid_DustOpacity", u"Opacity", 0.45, 0.0, 1.0, 0.5);
    d.real("Plugin_FXid_DustFreq", u"Frequency", 0.6, 0.0, 1.0, 0.5);
    d.end();

    d.checkbox("Plugin_FXid_DoFlicker", u"Apply Flicker", false);
    d.group("Plugin_FXid_FlickerGroupStart", u"Flicker");
    d.real("Plugin_FXid_FlickerFreq", u"Frequency", 0.5, 0.0, 1.0, 1.0);
    d.integer("Plugin_FXid_FlickerAmount", u"Amount", 10, 0, 100, 1.0);
    d.end();

    d.checkbox("Plugin_FXid_DoVignette", u"Apply Vignette", false);
    d.group("Plugin_FXid_VignetteGroupStart", u"Vignette");
    d.real("Plugin_FXid_VignetteSize", u"Size", 40.0, 1.0, 100.0, 1.0);
    d.real("Plugin_FXid_VignetteIntensity", u"Intensity", 70.0, 0.0, 100.0, 1.0);
    d.end();

    d.checkbox("Plugin_FXid_DoDisplacement", u"Apply Displacement", false);
    d.group("Plugin_FXid_DisplacementGroupStart", u"Displacement");
    d.real("Plugin_FXid_DisplacementAmount", u"Amount", 0.5, 0.0, 5.0, 1.0);
    d.end();

    d.checkbox("Plugin_FXid_DoMicro", u"Apply Microscratches", false);
    d.group("Plugin_FXid_MicroscratchesGroupStart", u"Microscratches");
    d.integer("Plugin_FXid_Number", u"Number", 2000, 0, 5000, 0.5);
    d.real("Plugin_FXid_Opacity", u"Opacity", 0.75, 0.0, 1.0, 0.5);
    d.end();

    d.checkbox("Plugin_FXid_DoGrain", u"Apply Grain", false);
    d.group("Plugin_FXid_GrainGroupStart", u"Grain");
    d.checkbox("Plugin_FXid_DoColorNoise", u"Color Noise", true);
    d.real("Plugin_FXid_AmountGrain", u"Amount", 0.75, 0.0, 1.0, 0.5);
    d.real("Plugin_FXid_Red", u"Red", 28.22, 0.0, 100.0, 0.5);
    d.real("Plugin_FXid_Green", u"Green", 35.54, 0.0, 100.0, 0.5);
    d.real("Plugin_FXid_Blue", u"Blue", 100.0, 0.0, 100.0, 0.5);
    d.real("Plugin_FXid_SoftnessRed", u"Softness Red", 0.1, 0.0, 10.0, 0.5);
    d.real("Plugin_FXid_SoftnessGreen", u"Softness Green", 0.2, 0.0, 10.0, 0.5);
    d.real("Plugin_FXid_SoftnessBlue", u"Softness Blue", 0.4, 0.0, 10.0, 0.5);
    d.real("Plugin_FXid_SuppressBlack", u"Suppress Black", 20.0, 0.0, 100.0, 0.5);
    d.real("Plugin_FXid_SuppressWhite", u"Suppress White", 10.0, 0.0, 100.0, 0.5);
    d.end();

    d.checkbox("Plugin_FXid_DoDeepScratch", u"Apply DeepScratch", false);
    d.group("Plugin_FXid_DeepScratchGroupStart", u"Deep Scratches");
    d.integer("Plugin_FXid_DeepScratchNumber", u"Number", 2, 0, 50, 0.5);
    d.integer("Plugin_FXid_DeepScratchDuration", u"Duration", 48, 1, 240, 0.5);
    d.c.flags = DEF_GROUP_OPTION;
    beginColorChannels(d.c);
    d.channel("Plugin_FXid_DeepScratchColor_R", u"Red", 82.0f);
    d.channel("Plugin_FXid_DeepScratchColor_G", u"Green", 255.0f);
    d.channel("Plugin_FXid_DeepScratchColor_B", u"Blue", 18.0f);
    // The colour takes no slot of its own; its odd identifier is the stem of its layout names.
    d.c.flags = DEF_GROUP_OPTION;
    addColor(d.c, "Plugin_ . FXid_DeepScratchColor", u"Color", 0);
    d.end();

    d.checkbox("Plugin_FXid_DoBasicScratch", u"Apply BasicScratch", false);
    d.group("Plugin_FXid_BasicScratchGroupStart", u"Basic Scratches");
    d.integer("Plugin_FXid_BasicScratchNumber", u"Number", 2, 0, 50, 0.5);
    d.integer("Plugin_FXid_BasicScratchDuration", u"Duration", 48, 1, 240, 0.5);
    d.checkbox("Plugin_FXid_DoInvert", u"Invert", true);
    d.end();

    d.checkbox("Plugin_FXid_DoGateweave", u"Apply Gateweave", false);
    d.group("Plugin_FXid_GateweaveGroupStart", u"Gateweave");
    d.real("Plugin_FXid_Frequency", u"Weave Frequency", 0.25, 0.0, 2.0, 1.0);
    d.real("Plugin_FXid_Amplitude", u"Amplitude", 5.0, 0.0, 20.0, 1.0);
    d.real("Plugin_FXid_NoiseFrequency", u"Noise Frequency", 5.0, 0.0, 100.0, 1.0);
    d.end();

    d.checkbox("Plugin_FXid_DoContrast", u"Apply PostContrast", false);
    d.group("Plugin_FXid_PostContrastGroupStart", u"Post Contrast");
    d.integer("Plugin_FXid_ContrastAmount", u"Amount", 27, -100, 100, 0.5);
    d.end();
}
