// Basic scratches: thin light lines (one or two pixels) down most of the picture, fading in
// and out at their ends, with a brightness that flickers along them. Drawn arithmetically.
#pragma once

#include "lib/Common/StageTypes.h"
#include "stages/damage/ScratchEngine.h"

// What every basic scratch is, whatever the format it draws in.
class BasicBase : public ScratchObject {
public:
    // Draws the opacity, the width, the top and the bottom, in that order.
    BasicBase(int32_t frame, int32_t duration, const ScratchBounds& bounds, bool invert);
    int32_t width() override { return widthPixels; }
    int32_t length() override { return 1440; }
    // The ends scale with the height before the column follows the width.
    void setBounds(const ScratchBounds& bounds) override;
    virtual void setInvert(bool on) { invert = on; }

    int32_t top = 0;
    int32_t bottom = 0;
    int32_t widthPixels = 0;
    float opacity = 0;
    bool invert = false;
};

template <class Tag>
class Basic final : public BasicBase {
public:
    using BasicBase::BasicBase;
    // Takes over a scratch made for another format.
    explicit Basic(const BasicBase& other) : BasicBase(other) {}
    bool draw(const ScratchPass& pass, const ScratchTarget& target) override;
};

template <class Tag>
class BasicScratch final : public Scratcher {
public:
    explicit BasicScratch(bool invert) : invert(invert) {}
    ScratchObject* createScratch(int32_t frame, int32_t duration, const ScratchBounds& bounds) override;

    bool invert;
};

// Runs the instance's basic scratches for this frame: 1 when the walk stopped on a failed
// draw, else 0.
template <class Tag>
Status BasicScratchesStage(TX_STAGE_ARGS, int32_t number, int32_t duration, bool invert);
