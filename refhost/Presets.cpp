#include "refhost/Presets.h"

namespace refhost {

// Displacement and microscratches start again from the untouched source frame, so whatever
// fading, funk, splotches, dust, flicker and vignette did is lost where they run (and
// microscratches lose displacement too). Displacement stays off in every look; microscratches
// are on only in the look that switches none of those earlier stages on.
const std::vector<Preset>& builtInPresets() {
    static const std::vector<Preset> presets = {
        {"light",
         "gentle age: fine grain, a soft vignette, a little dust and lamp flicker",
         {{"doGrain", "on"}, {"amountGrain", "0.25"}, {"grainRed", "45"}, {"grainGreen", "50"}, {"grainBlue", "65"},
          {"doVignette", "on"}, {"vignetteSize", "60"}, {"vignetteIntensity", "30"},
          {"doFlicker", "on"}, {"flickerFreq", "0.3"}, {"flickerAmount", "4"},
          {"doDust", "on"}, {"blackNumber", "3"}, {"whiteNumber", "2"}, {"dustOpacity", "0.35"}, {"dustFreq", "0.4"},
          {"doContrast", "on"}, {"contrastAmount", "8"}}},
        {"worn-print",
         "a heavily worn release print: washed out, grimy, stained, dusty and scratched, weaving and pulsing",
         {{"doFading", "on"}, {"fadeAmount", "60"},
          {"doFunk", "on"}, {"funkOpacity", "30"},
          {"doSplotches", "on"}, {"splotchNumber", "6"}, {"splotchesScale", "1"}, {"splotchesTransparency", "35"},
          {"splotchesFrequency", "60"},
          {"doDust", "on"}, {"blackNumber", "40"}, {"whiteNumber", "25"}, {"dustOpacity", "0.7"}, {"dustFreq", "0.9"},
          {"doFlicker", "on"}, {"flickerFreq", "0.6"}, {"flickerAmount", "14"},
          {"doVignette", "on"}, {"vignetteSize", "35"}, {"vignetteIntensity", "65"},
          {"doGrain", "on"}, {"amountGrain", "0.6"}, {"grainRed", "50"}, {"grainGreen", "55"}, {"grainBlue", "80"},
          {"softnessRed", "0.6"}, {"softnessGreen", "0.8"}, {"softnessBlue", "1"},
          // A pale green highlight, as a scratch through a colour print's top layers shows.
          {"doDeepScratch", "on"}, {"deepScratchNumber", "3"}, {"deepScratchDuration", "48"},
          {"deepScratchColorR", "150"}, {"deepScratchColorG", "210"}, {"deepScratchColorB", "130"},
          {"doBasicScratch", "on"}, {"basicScratchNumber", "4"}, {"basicScratchDuration", "24"},
          {"doGateweave", "on"}, {"gateweaveFrequency", "0.4"}, {"gateweaveAmplitude", "3"},
          {"gateweaveNoiseFrequency", "8"},
          {"doContrast", "on"}, {"contrastAmount", "22"}}},
        {"silent-era",
         "hand-cranked silent film: hard flicker, strong weave, heavy dust, thin scratches, monochrome grain, deep vignette "
         "(best on black-and-white footage)",
         {{"doFading", "on"}, {"fadeAmount", "30"},
          {"doDust", "on"}, {"blackNumber", "60"}, {"whiteNumber", "40"}, {"dustOpacity", "0.8"}, {"dustFreq", "1"},
          {"doFlicker", "on"}, {"flickerFreq", "0.8"}, {"flickerAmount", "20"},
          {"doVignette", "on"}, {"vignetteSize", "30"}, {"vignetteIntensity", "80"},
          {"doGrain", "on"}, {"doColorNoise", "off"}, {"amountGrain", "0.55"}, {"grainRed", "70"}, {"grainGreen", "70"},
          {"grainBlue", "70"},
          {"doBasicScratch", "on"}, {"basicScratchNumber", "6"}, {"basicScratchDuration", "24"},
          {"doGateweave", "on"}, {"gateweaveFrequency", "0.6"}, {"gateweaveAmplitude", "4"},
          {"gateweaveNoiseFrequency", "15"},
          {"doContrast", "on"}, {"contrastAmount", "35"}}},
        {"home-movie-8mm",
         "8 mm home movie: coarse soft colour grain, hot centre, jittery gate, a little grime",
         {{"doFading", "on"}, {"fadeAmount", "25"},
          {"doFunk", "on"}, {"funkOpacity", "20"},
          {"doDust", "on"}, {"blackNumber", "15"}, {"whiteNumber", "10"}, {"dustOpacity", "0.55"}, {"dustFreq", "0.7"},
          {"doFlicker", "on"}, {"flickerFreq", "0.5"}, {"flickerAmount", "12"},
          {"doVignette", "on"}, {"vignetteSize", "25"}, {"vignetteIntensity", "75"},
          {"doGrain", "on"}, {"amountGrain", "0.7"}, {"grainRed", "60"}, {"grainGreen", "70"}, {"grainBlue", "100"},
          {"softnessRed", "1"}, {"softnessGreen", "1.2"}, {"softnessBlue", "1.5"},
          {"doGateweave", "on"}, {"gateweaveFrequency", "0.8"}, {"gateweaveAmplitude", "6"},
          {"gateweaveNoiseFrequency", "20"},
          {"doContrast", "on"}, {"contrastAmount", "15"}}},
        {"scratched-print",
         "a print run through a dirty gate: a fine rain of scratches all over, running scratches, grain and a little weave; "
         "the colours and tones stay as shot (no fading, grime, stains, dust, flicker or vignette, which the rain would wipe out)",
         {{"doMicro", "on"}, {"microNumber", "4000"}, {"microOpacity", "0.85"},
          {"doGrain", "on"}, {"amountGrain", "0.5"}, {"grainRed", "50"}, {"grainGreen", "55"}, {"grainBlue", "75"},
          {"doDeepScratch", "on"}, {"deepScratchNumber", "2"}, {"deepScratchDuration", "48"},
          {"deepScratchColorR", "150"}, {"deepScratchColorG", "210"}, {"deepScratchColorB", "130"},
          {"doBasicScratch", "on"}, {"basicScratchNumber", "5"}, {"basicScratchDuration", "30"},
          {"doGateweave", "on"}, {"gateweaveFrequency", "0.3"}, {"gateweaveAmplitude", "2"},
          {"gateweaveNoiseFrequency", "6"},
          {"doContrast", "on"}, {"contrastAmount", "12"}}},
    };
    return presets;
}

}  // namespace refhost
