#include "stages/damage/BasicScratches.h"

#include <cmath>

#include "lib/Common/FloatMath.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/Random.h"

using rng::RandomUnit;

namespace {

constexpr float kOpacityStep = float(10.0 / 255.0);  // opacities run from one step to two

// A band of 2q + 1 rows centred on `centre`, q a quarter of the height, from one raw draw.
int32_t bandRow(int32_t height, int32_t centre) {
    const int32_t q = truncToInt32(height * 0.25);
    return centre - q + rng::Draw() % (2 * q + 1);
}

}  // namespace

BasicBase::BasicBase(int32_t frame, int32_t duration, const ScratchBounds& bounds, bool invertOn)
    : ScratchObject(frame, duration, bounds), invert(invertOn) {
    opacity = float(RandomUnit() * double(kOpacityStep) + double(kOpacityStep));
    widthPixels = ScratchRound(RandomUnit() + 1);
    const int32_t height = int32_t(uint32_t(bounds.bottom) - uint32_t(bounds.top));
    top = bandRow(height, 0);
    bottom = bandRow(height, height);
}

void BasicBase::setBounds(const ScratchBounds& next) {
    const double ratio = double(int32_t(uint32_t(next.bottom) - uint32_t(next.top))) /
                         double(int32_t(uint32_t(bounds.bottom) - uint32_t(bounds.top)));
    top = truncToInt32(top * ratio);
    bottom = truncToInt32(bottom * ratio);
    ScratchObject::setBounds(next);
}

template <class Tag>
bool Basic<Tag>::draw(const ScratchPass&, const ScratchTarget& target) {
    using T = typename Tag::Channel;
    using F = typename Tag::FORMAT;
    constexpr float full = float(Tag::white);
    const float inverse = 1.0f / float(int32_t(uint32_t(bottom) - uint32_t(top)));
    const int32_t column = truncToInt32(position);
    const auto add = [](T& channel, float amount) {
        float value = float(channel) + amount;
        if (value < 0.0f) value = 0.0f;
        else if (value > full) value = full;
        channel = T(truncToInt32(value));
    };
    for (int32_t y = 0; y < target.height; ++y) {
        if (y < top || y > bottom) continue;
        const float t = float(int64_t(y) - top) * inverse;
        // The sine of the way along: 0 at both ends, 1 in the middle.
        const float radians = float(double(t * 180.0f) * 0.017453292519943295);
        const float envelope = float(std::sin(double(radians)));
        float v = envelope * opacity * full;
        // About one row in four flickers to anything from 0 to twice its strength.
        const double flicker = RandomUnit();
        if (y != 0 && flicker * 100 < 25.1) v = float(double(v) + (RandomUnit() * double(2 * v) - double(v)));
        if (invert) v = -v;
        T* row = reinterpret_cast<T*>(target.pixels + int64_t(y) * target.rowBytes);
        for (int32_t i = 0; i < widthPixels; ++i) {
            if (i > 0) v *= 0.5f;
            const int64_t x = int64_t(column) + i;
            if (x < 0 || x >= target.width) continue;
            T* px = row + x * 4;
            add(px[F::R], v);
            add(px[F::G], v);
            add(px[F::B], v);
        }
    }
    return true;
}

template <class Tag>
ScratchObject* BasicScratch<Tag>::createScratch(int32_t frame, int32_t duration, const ScratchBounds& bounds) {
    return new (std::nothrow) Basic<Tag>(frame, duration, bounds, invert);
}

template <class Tag>
Status BasicScratchesStage(TX_STAGE_ARGS, int32_t number, int32_t duration, bool invert) {
    (void)frame;
    (void)source;
    ScratchPass pass;
    ScratchTarget target;
    if (!BeginScratchFrame(host, output, &InstanceBlock::basicScratches, number, duration, pass, target)) return STATUS_OK;
    for (auto& entry : pass.list->entries)
        if (BasicBase* basic = ScratchInFormat<Basic<Tag>, BasicBase>(entry)) basic->setInvert(invert);
    BasicScratch<Tag> scratcher(invert);
    return scratcher.process(pass, target) ? STATUS_OK : STATUS_UNSUPPORTED;
}

#define TX_BASIC(Tag)                                                                                        \
    template class Basic<Tag>;                                                                               \
    template class BasicScratch<Tag>;                                                                        \
    template Status BasicScratchesStage<Tag>(TX_STAGE_ARGS, int32_t, int32_t, bool);
TX_BASIC(PIXEL_ARGB8)
TX_BASIC(PIXEL_BGRA8)
TX_BASIC(PIXEL_ARGB14)
TX_BASIC(PIXEL_BGRA14)
