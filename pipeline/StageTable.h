// The stage chain in its fixed order. Each entry is the stage's entry for one pixel format;
// a test may leave one null, and the driver still makes the random draws of its gate, so the
// rest of the chain sees the same generator.
#pragma once

#include <cstdint>

#include "lib/Common/ChannelTables.h"
#include "lib/Common/StageTypes.h"

struct StageTable {
    // Prepares the shared funk raster (driver side); null leaves it as it is.
    Status (*prepareFunk)(PluginHost_API& host, RasterHolder& output);
    Status (*fading)(TX_STAGE_ARGS, float amount);
    Status (*funk)(TX_STAGE_ARGS, PluginRaster_API* funkRaster, float opacity);
    Status (*splotches)(TX_STAGE_ARGS, int32_t number, float scale, float transparency);
    Status (*dust)(TX_STAGE_ARGS, bool black, bool white, float opacity, int32_t blackNumber, int32_t whiteNumber);
    // Flicker makes its tables and hands them on; the vignette applies them in its own pass, or
    // the driver does when the vignette does not run.
    Status (*flicker)(TX_STAGE_ARGS, float amount, HandedTables& tables);
    Status (*vignette)(TX_STAGE_ARGS, float size, float intensity, const HandedTables& before);
    Status (*displacement)(TX_STAGE_ARGS, float amount);
    Status (*microscratches)(TX_STAGE_ARGS, int32_t number, float opacity);
    Status (*grain)(TX_STAGE_ARGS, bool colorNoise, float amount, float red, float green, float blue,
                    float softnessRed, float softnessGreen, float softnessBlue, float suppressBlack,
                    float suppressWhite);
    Status (*deepScratches)(TX_STAGE_ARGS, int32_t number, int32_t duration, double red, double green, double blue);
    Status (*basicScratches)(TX_STAGE_ARGS, int32_t number, int32_t duration, bool invert);
    Status (*gateWeave)(TX_STAGE_ARGS, float frequency, float amplitude, float noiseFrequency);
};

template <class Tag>
const StageTable& stageTable();

// Tests may replace a format's table (e.g. with a stage that throws); null restores it.
template <class Tag>
void overrideStageTable(const StageTable* table);
