// Shaped, softened noise laid over the frame in hard light.
#pragma once

#include <cstdint>

#include "lib/Common/StageTypes.h"
#include "stages/tone/grain/GrainNoiseLanes.h"

// Builds a mid-grey noise layer seeded by the frame number, softens it with GrainBlur and
// blends it over the output. Status 4 when a working raster cannot be made (the output is
// then untouched), else the composite's status. The instance's curve tables and
// suppression weights are rewritten on every call.
template <class Tag>
Status GrainStage(TX_STAGE_ARGS, bool colorNoise, float amount, float red, float green, float blue, float softnessRed, float softnessGreen, float softnessBlue, float suppressBlack, float suppressWhite);

// The stage's steps, each usable on its own.

// How much grain each picture value 0..white receives: a ramp up from 0 below
// `suppressBlack`, a ramp down to 0 at white above `suppressWhite`, 1 between. Both
// thresholds are raw code values in either depth.
void GrainSuppressionWeights(int32_t white, float suppressBlack, float suppressWhite, float* weights);

// Level curves (white + 1 entries each) that squeeze a channel's noise toward mid grey:
// strength 100 % is the identity, 0 % flat.
template <class Tag>
void GrainChannelCurves(float red, float green, float blue, typename Tag::Channel* const curves[3]);

// The noise layer over the common area of `picture` and `layer`: a draw per pixel (three,
// R, G, B, with colour noise) from the generator started at `seed`, offset around mid grey,
// mapped through the curves and weighted by the picture's own value per channel; alpha is
// the fill's. Given the settings the curves and weights were built from, it may work them
// out rather than look them up, where that gives the same entries.
template <class Tag>
void GrainNoise(bool colorNoise, float amount, uint32_t seed, const typename Tag::Channel* const curves[3],
                const float* weights, const RasterDesc& picture, const RasterDesc& layer,
                const grain_noise::Shaping* shaping = nullptr);
