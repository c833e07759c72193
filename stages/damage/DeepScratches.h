// Deep scratches: six-pixel grooves down the whole picture, a dark groove with a tinted
// highlight beside it, rebuilt every frame from a scratch strip while their columns drift.
#pragma once

#include "lib/Common/StageTypes.h"
#include "stages/damage/ScratchEngine.h"

// What every deep scratch is, whatever the format it draws in.
class DeepBase : public ScratchObject {
public:
    DeepBase(int32_t frame, int32_t duration, const ScratchBounds& bounds, PluginHost_API* host)
        : ScratchObject(frame, duration, bounds), host(host) {}
    int32_t width() override { return 6; }
    int32_t length() override { return 1440; }

    PluginHost_API* host;
};

template <class Tag>
class Deep final : public DeepBase {
public:
    using DeepBase::DeepBase;
    // Takes over a scratch made for another format, draws included.
    explicit Deep(const DeepBase& other) : DeepBase(other) {}
    bool draw(const ScratchPass& pass, const ScratchTarget& target) override;
};

template <class Tag>
class DeepScratch final : public Scratcher {
public:
    explicit DeepScratch(PluginHost_API& host) : host(host) {}
    ScratchObject* createScratch(int32_t frame, int32_t duration, const ScratchBounds& bounds) override;

    PluginHost_API& host;
};

// Runs the instance's deep scratches for this frame. Always 0: a scratch that cannot be
// drawn only stops the others for this frame.
template <class Tag>
Status DeepScratchesStage(TX_STAGE_ARGS, int32_t number, int32_t duration, double red, double green, double blue);
