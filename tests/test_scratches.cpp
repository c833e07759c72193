// The scratch engine over runs of frames, watched through a scratch kind of our own that
// records its draws; deep, basic and microscratches called in-process. Columns, lifetimes and
// drifts come from draws forced on the thread's generator or followed from a known state.
#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "StageTestSupport.h"
#include "TextureResources.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/TextureLibrary.h"
#include "pipeline/Random.h"
#include "stages/damage/BasicScratches.h"
#include "stages/damage/DeepScratches.h"
#include "stages/damage/Microscratches.h"

using namespace stage_support;

namespace {

constexpr uint32_t kKnownState = 20240611u;

// The thread's generator set so that, after `skip` other draws, it draws `first` (then `second`).
void forceDraws(int skip, uint32_t first, int32_t second = -1) { rng::threadState() = retreat(stateBefore(first, second), skip); }

int32_t roundHalfUp(double x) { return int32_t(std::floor(x + 0.5)); }

using Ids = std::vector<int>;

struct Drawn {
    int id;
    double position;
    friend bool operator==(const Drawn&, const Drawn&) = default;
};

// Six pixels wide, like a deep scratch; records each draw and fails when told to.
class TracedScratch final : public ScratchObject {
public:
    TracedScratch(int32_t frame, int32_t duration, const ScratchBounds& bounds, int id, std::vector<Drawn>& log,
                  const int& failing)
        : ScratchObject(frame, duration, bounds), id(id), mLog(log), mFailing(failing) {}
    bool draw(const ScratchPass&, const ScratchTarget&) override {
        mLog.push_back({id, position});
        return id != mFailing;
    }
    int32_t width() override { return 6; }
    int32_t length() override { return 1440; }
    const int id;

private:
    std::vector<Drawn>& mLog;
    const int& mFailing;
};

// Numbers its scratches from 1 in the order made; the `refused`th is not made.
class TracedScratcher final : public Scratcher {
public:
    ScratchObject* createScratch(int32_t frame, int32_t duration, const ScratchBounds& bounds) override {
        ++made;
        return made == refused ? nullptr : new TracedScratch(frame, duration, bounds, made, log, failing);
    }
    std::vector<Drawn> log;
    int failing = 0, made = 0, refused = 0;
};

// The one list of a kind, oldest first.
std::vector<ScratchObject*> scratchesOf(ScratchList& list) {
    std::vector<ScratchObject*> v;
    for (auto& e : list.entries) v.push_back(scratchAt(e));
    return v;
}

// Pixels whose red differs: how many, and their box (left, top, right, bottom, exclusive).
struct Changes {
    int64_t count = 0;
    std::array<uint32_t, 4> box{~0u, ~0u, 0, 0};
};
Changes changes(const Image& before, const Image& after) {
    Changes c;
    for (uint32_t y = 0; y < before.shape().height; ++y)
        for (uint32_t x = 0; x < before.shape().width; ++x)
            if (before.channel(x, y, 1) != after.channel(x, y, 1)) {
                ++c.count;
                c.box = {std::min(c.box[0], x), std::min(c.box[1], y), std::max(c.box[2], x + 1),
                         std::max(c.box[3], y + 1)};
            }
    return c;
}

ScratchTarget targetOf(Image& im) {
    return ScratchTarget{im.pixels(), int32_t(im.shape().width), int32_t(im.shape().height), im.rowBytes(), false};
}

class ScratchEngine : public ::testing::Test {
protected:
    TracedScratcher scratcher;
    ScratchList list;
    const ScratchBounds full{0, 0, 1919, 1080};
    const double step = 1920 * (1.0 / 240);  // one drift step on a 1920-wide frame

    bool run(int32_t frame, int32_t count, int32_t width = 1920, int32_t height = 1080, int32_t duration = 30) {
        scratcher.log.clear();
        return scratcher.process(ScratchPass{frame, {}, count, duration, &list},
                                 ScratchTarget{nullptr, width, height, 0, false});
    }
    // A scratch at the back of the list in a chosen state.
    TracedScratch& add(int32_t birth, int32_t last, int32_t lifetime, int32_t drift, double position) {
        auto* s = static_cast<TracedScratch*>(scratcher.createScratch(birth, 30, full));
        s->lastFrame = last, s->lifetime = lifetime, s->drift = drift, s->position = position;
        list.entries.emplace_back(s);
        return *s;
    }
    TracedScratch& entry(size_t i) { return static_cast<TracedScratch&>(**std::next(list.entries.begin(), long(i))); }
    Ids ids() const {
        Ids v;
        for (const auto& e : list.entries) v.push_back(e ? static_cast<const TracedScratch&>(*e).id : 0);
        return v;
    }
    Ids drawnIds() const {
        Ids v;
        for (const Drawn& d : scratcher.log) v.push_back(d.id);
        return v;
    }
};

}  // namespace

TEST_F(ScratchEngine, FirstFrameSameFrameAndFramesBackAndForth) {
    // Made in turn (lifetime round(29 r + 1), drift round(3 r)), then placed at r x 1919.
    rng::threadState() = kKnownState;
    Draws d{kKnownState};
    int32_t lifetimes[3], drifts[3];
    for (int i = 0; i < 3; ++i) lifetimes[i] = roundHalfUp(d.unit() * 29 + 1), drifts[i] = roundHalfUp(d.unit() * 3);
    std::vector<Drawn> placed;
    for (int i = 0; i < 3; ++i) placed.push_back({i + 1, d.unit() * 1919});
    ASSERT_TRUE(run(11, 3));
    EXPECT_EQ(scratcher.log, placed);
    for (size_t i = 0; i < 3; ++i) {
        const TracedScratch& e = entry(i);
        EXPECT_EQ(std::tuple(e.lifetime, e.drift, e.birthFrame, e.lastFrame, e.position),
                  std::tuple(lifetimes[i], drifts[i], 11, 11, placed[i].position));
    }
    EXPECT_EQ(rng::threadState(), d.state);
    // The same frame again: every scratch drawn where it was, no draw taken.
    ASSERT_TRUE(run(11, 3));
    EXPECT_EQ(scratcher.log, placed);
    EXPECT_EQ(rng::threadState(), d.state);

    // Back to 10: one born at 5 steps left; the last, born at 11, dies and its replacement is
    // placed and drawn in the same frame.
    list.entries.clear();
    TracedScratch& old = add(5, 11, 20, 1, 500.0);
    add(11, 11, 20, 2, 700.0);
    const int64_t live = ScratchObject::liveCount();
    rng::threadState() = kKnownState;
    d = Draws{kKnownState};
    double oldAt = 500.0 - d.unit() * step;
    d.next(), d.next();
    const double newAt = d.unit() * 1919;
    ASSERT_TRUE(run(10, 2));
    EXPECT_EQ(ids(), (Ids{old.id, scratcher.made}));
    EXPECT_EQ(scratcher.log, (std::vector<Drawn>{{old.id, oldAt}, {scratcher.made, newAt}}));
    EXPECT_EQ(entry(1).birthFrame, 10);
    EXPECT_EQ(entry(1).lastFrame, 10);
    EXPECT_EQ(ScratchObject::liveCount(), live);
    EXPECT_EQ(rng::threadState(), d.state);

    // Far forward within the lifetime is still one step (24 - 5 and 25 - 5 are within 20); 26 is past it.
    entry(1).drift = 0, entry(1).lifetime = 100;
    for (int32_t frame : {24, 25}) {
        oldAt -= d.unit() * step;
        ASSERT_TRUE(run(frame, 2));
        EXPECT_EQ(old.position, oldAt) << frame;
        EXPECT_EQ(rng::threadState(), d.state) << frame;
    }
    const int survivor = entry(1).id;
    ASSERT_TRUE(run(26, 2));
    EXPECT_EQ(ids(), (Ids{survivor, scratcher.made}));
}

TEST_F(ScratchEngine, LifetimeAndDriftFromTheirDraws) {
    struct Case {
        int32_t duration;
        uint32_t lifeDraw, driftDraw;
        int32_t lifetime, drift;
    };
    // Either side of each rounding: 16384 and 16383 give 15.50044 and 15.49956; 5461 and 5462
    // drift 0 and 1; 27305 and 27306 drift 2 and 3.
    for (const Case& c : {Case{30, 16384, 5461, 16, 0}, Case{30, 16383, 5462, 15, 1}, Case{30, 0, 27305, 1, 2},
                          Case{30, 32767, 27306, 30, 3}, Case{30, 32767, 32767, 30, 3}, Case{1, 32767, 0, 1, 0}}) {
        forceDraws(0, c.lifeDraw, int32_t(c.driftDraw));
        TracedScratch s(7, c.duration, full, 1, scratcher.log, scratcher.failing);
        EXPECT_EQ(s.lifetime, c.lifetime) << c.lifeDraw;
        EXPECT_EQ(s.drift, c.drift) << c.driftDraw;
        EXPECT_EQ(s.position, -1.0);
    }
    // Duration 1 (lifetime 1 even at the highest draw, above) is drawn at 1 and replaced at 2.
    ASSERT_TRUE(run(0, 1, 1920, 1080, 1));
    entry(0).drift = 0;
    ASSERT_TRUE(run(1, 1, 1920, 1080, 1));
    EXPECT_EQ(ids(), Ids{1});
    ASSERT_TRUE(run(2, 1, 1920, 1080, 1));
    EXPECT_EQ(ids(), Ids{2});
    EXPECT_EQ(drawnIds(), Ids{2});
}

// Drift 1 dies once 0 >= position + 5, drift 2 once position - 5 >= 1919, drift 3 only hides.
// A step is 8 pixels; the draw says how much of it is taken.
TEST_F(ScratchEngine, DriftingOffThePicture) {
    enum Outcome { Drawn, Replaced, Hidden };
    struct Case {
        int32_t drift;
        double from;
        uint32_t draw;
        double to;
        Outcome outcome;
    };
    for (const Case& c :
         {Case{1, 3.0, 32767, -5.0, Replaced}, Case{1, 3.0, 32766, 3.0 - 32766 / 32767.0 * 8, Drawn},
          Case{2, 1916.0, 32767, 1924.0, Replaced}, Case{2, 1916.0, 32766, 1916.0 + 32766 / 32767.0 * 8, Drawn},
          Case{3, 3.0, 0, -5.0, Hidden}, Case{3, 1916.0, 32767, 1924.0, Hidden},
          Case{3, 3.0, 1, 3.0 + (1 / 32767.0 * 2 * 8 - 8), Drawn}}) {
        SCOPED_TRACE(::testing::Message() << "drift " << c.drift << " from " << c.from << " draw " << c.draw);
        list.entries.clear();
        TracedScratch& s = add(0, 3, 50, c.drift, c.from);
        const int still = add(0, 3, 50, 0, 100.0).id;
        forceDraws(0, c.draw);
        ASSERT_TRUE(run(4, 2));
        if (c.outcome == Replaced) {
            EXPECT_EQ(ids(), (Ids{still, scratcher.made}));
            EXPECT_EQ(drawnIds(), (Ids{still, scratcher.made}));
            EXPECT_EQ(entry(1).birthFrame, 4);
            continue;
        }
        EXPECT_EQ(s.position, c.to);
        EXPECT_EQ(s.lastFrame, 4);
        EXPECT_EQ(drawnIds(), c.outcome == Drawn ? (Ids{s.id, still}) : Ids{still});
        if (c.outcome == Hidden) {
            // Hidden scratches stay and may walk back in: a full step back is 3 (or 1916) again.
            forceDraws(0, c.from < 100 ? 32767 : 0);
            ASSERT_TRUE(run(5, 2));
            EXPECT_EQ(s.position, c.from);
            EXPECT_EQ(drawnIds(), (Ids{s.id, still}));
        }
    }
}

TEST_F(ScratchEngine, FrameSizeChangesRescaleTheColumnAndABasicScratchsEnds) {
    TracedScratch& s = add(3, 3, 30, 0, 960.0);
    const uint32_t before = rng::threadState();
    ASSERT_TRUE(run(4, 1, 960, 540));
    EXPECT_EQ(s.position, 960.0 * 959 / 1919);
    EXPECT_EQ(s.bounds, (ScratchBounds{0, 0, 959, 540}));
    EXPECT_EQ(s.lastFrame, 4);
    EXPECT_EQ(rng::threadState(), before) << "drift 0 stands still without a draw";
    ASSERT_TRUE(run(5, 1, 960, 720));
    EXPECT_EQ(s.bounds, (ScratchBounds{0, 0, 959, 720})) << "a change of height alone";

    // The ends scale with the height, truncated toward zero: -135 -> -67, 1215 -> 607.
    Basic<PIXEL_BGRA8> basic(3, 30, full, false);
    basic.top = -135, basic.bottom = 1215, basic.position = 960.0;
    static_cast<ScratchObject&>(basic).setBounds(ScratchBounds{0, 0, 959, 540});
    EXPECT_EQ(std::tuple(basic.top, basic.bottom, basic.position), std::tuple(-67, 607, 960.0 * 959 / 1919));
    EXPECT_EQ(basic.bounds, (ScratchBounds{0, 0, 959, 540}));
}

TEST_F(ScratchEngine, CountsDropTheOldestFirstAndZeroOrLessEmpties) {
    const int64_t live = ScratchObject::liveCount();
    ASSERT_TRUE(run(3, 5));
    EXPECT_EQ(ids(), (Ids{1, 2, 3, 4, 5}));
    ASSERT_TRUE(run(3, 2));
    EXPECT_EQ(ids(), (Ids{4, 5}));
    EXPECT_EQ(ScratchObject::liveCount(), live + 2);
    ASSERT_TRUE(run(3, 4));
    EXPECT_EQ(ids(), (Ids{4, 5, 6, 7}));
    EXPECT_EQ(drawnIds(), (Ids{4, 5, 6, 7}));
    ASSERT_TRUE(run(3, 0));
    EXPECT_TRUE(ids().empty());
    EXPECT_TRUE(scratcher.log.empty());
    ASSERT_TRUE(run(3, 2));
    ASSERT_TRUE(run(3, -3));
    EXPECT_TRUE(ids().empty());
    EXPECT_EQ(ScratchObject::liveCount(), live);
}

TEST_F(ScratchEngine, AFailedDrawStopsTheWalkAndEmptyEntriesArePassedOver) {
    TracedScratch& a = add(0, 3, 50, 2, 100.0);
    TracedScratch& b = add(0, 3, 50, 2, 200.0);
    TracedScratch& c = add(0, 3, 50, 2, 300.0);
    scratcher.failing = b.id;
    rng::threadState() = kKnownState;
    Draws d{kKnownState};
    const double aAt = 100.0 + d.unit() * step, bAt = 200.0 + d.unit() * step;
    EXPECT_FALSE(run(4, 3));
    EXPECT_EQ(scratcher.log, (std::vector<Drawn>{{a.id, aAt}, {b.id, bAt}}));
    EXPECT_EQ(c.position, 300.0);
    EXPECT_EQ(c.lastFrame, 3);
    EXPECT_EQ(rng::threadState(), d.state);
    scratcher.failing = 0;
    EXPECT_TRUE(run(5, 3));
    EXPECT_EQ(drawnIds(), (Ids{a.id, b.id, c.id}));

    // A scratch that could not be made counts toward the size and is passed over.
    list.entries.clear();
    scratcher.made = 0, scratcher.refused = 2;
    const int64_t live = ScratchObject::liveCount();
    ASSERT_TRUE(run(3, 3));
    EXPECT_EQ(ids(), (Ids{1, 0, 3}));
    EXPECT_EQ(drawnIds(), (Ids{1, 3}));
    EXPECT_EQ(ScratchObject::liveCount(), live + 2);
    ASSERT_TRUE(run(3, 3));
    EXPECT_EQ(scratcher.made, 3);
    ASSERT_TRUE(run(3, 2));
    EXPECT_EQ(ids(), (Ids{0, 3}));
}


template <class Tag>
class Scratches : public ::testing::Test {};
TYPED_TEST_SUITE(Scratches, AllFormats);

namespace {

// The groove from strip member `texels`: each texel as the format holds it, the colours
// through the levels window 0.216..0.557 onto white..0.
template <class Tag>
AcfPtr<Image> grooveOf(const uint8_t* texels) {
    const double white = Tag::white, low = 0.216 * white, high = 0.557 * white;
    const auto level = [&](uint32_t v) {
        if (v <= low) return uint32_t(white);
        if (v >= high) return 0u;
        const double out = std::trunc((v - low) / ((0.557 - 0.216) * white) * (0.0 - 1.0) * white + white + 0.5);
        return uint32_t(std::clamp(out, 0.0, white));
    };
    AcfPtr<Image> groove(new Image(ImageSpec{6, 1440, kLayout<Tag>, 12}));
    for (uint32_t y = 0; y < 1440; ++y)
        for (uint32_t x = 0; x < 6; ++x) {
            const auto v = textureMember<Tag>(texels[4 * (y * 6 + x)]);
            for (int c = 0; c < 4; ++c) groove->setChannel(x, y, c, c == 0 ? v[0] : level(v[size_t(c)]));
        }
    return groove;
}

}  // namespace

// In black the highlight adds nothing: the frame is the groove multiplied on at 0.33 over
// columns 10..15. Frame 7 again leaves the scratch put and takes one draw, the strip's.
TYPED_TEST(Scratches, DeepScratchInBlackIsItsGrooveAlone) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 40, 200);
    makeOpaque(f.in());
    f.start();
    f.setup.services->mFrameNumber = 7;
    const auto deep = [&](double grey) { return f.run(&DeepScratchesStage<Tag>, 1, 30, grey, grey, grey); };
    ASSERT_EQ(deep(0.0), 0);
    scratchAt(f.data.block->deepScratches.entries.front())->position = 10.0;
    f.start();
    forceDraws(0, 16384);  // strip round(16384 / 32767 x 47 + 1) = 25
    ASSERT_EQ(deep(0.0), 0);
    AcfPtr<Image> expected = copyOf(f.in());
    const AcfPtr<Image> groove = grooveOf<Tag>(LoadScratchStrip(*f.setup.services, 25));
    ASSERT_EQ(CompositeRect<Tag>(nullptr, BLEND_MULTIPLY, descOf(*groove.get()), descOf(*expected.get()),
                                 Rect16{0, 0, 1440, 6}, Rect16{0, 10, 1440, 16}, 0.33),
              0);
    EXPECT_EQ(snapshot(f.out()), snapshot(*expected.get()));
    EXPECT_NE(snapshot(f.out()), snapshot(f.in()));
    // In white the highlight lightens somewhere.
    f.start();
    ASSERT_EQ(deep(1.0), 0);
    bool lighter = false;
    for (uint32_t y = 0; y < 200; ++y)
        for (uint32_t x = 11; x <= 16; ++x) lighter = lighter || f.out().channel(x, y, 1) > f.in().channel(x, y, 1);
    EXPECT_TRUE(lighter);
}

// At -2.5 the groove's rectangle is 5 columns for a 6-column strip: the composite fails and
// the walk stops, the next scratch neither moved nor drawn; the stage still answers 0.
TYPED_TEST(Scratches, DeepScratchAtAFractionalColumnLeftOfThePictureStopsTheFrame) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 40, 96);
    makeOpaque(f.in());
    f.start();
    f.setup.services->mFrameNumber = 7;
    const auto deep = [&] { return f.run(&DeepScratchesStage<Tag>, 2, 30, 1.0, 1.0, 1.0); };
    ASSERT_EQ(deep(), 0);
    const std::vector<ScratchObject*> two = scratchesOf(f.data.block->deepScratches);
    ASSERT_EQ(two.size(), 2u);
    for (ScratchObject* s : two) s->drift = 0, s->lifetime = 100;
    two[0]->position = -2.5, two[1]->position = 20.0;
    f.start();
    f.setup.services->mFrameNumber = 8;
    EXPECT_EQ(deep(), 0);
    EXPECT_EQ(snapshot(f.out()), snapshot(f.in()));
    EXPECT_EQ(two[0]->lastFrame, 8);
    EXPECT_EQ(two[1]->lastFrame, 7);
    // A whole column left of the picture is clipped and drawn; the walk goes on.
    two[0]->position = -2.0;
    f.setup.services->mFrameNumber = 9;
    EXPECT_EQ(deep(), 0);
    EXPECT_EQ(two[1]->lastFrame, 9);
    const Changes c = changes(f.in(), f.out());
    EXPECT_GT(c.count, 0);
    EXPECT_EQ(c.box[0], 0u);
    EXPECT_LE(c.box[2], 27u);
    for (uint32_t y = 0; y < 96; ++y)
        for (uint32_t x = 5; x < 20; ++x) ASSERT_EQ(f.out().channel(x, y, 1), f.in().channel(x, y, 1)) << x << "," << y;
}

// Strips (6 x 1440) stretch to taller frames and scale with the render scale, as seen in what
// the host lends and in the groove's footprint on a flat frame in black.
TEST(DeepScratchStrips, SizeFollowsTallFramesAndTheRenderScale) {
    {
        StageFrame warm(PixelLayout::BGRA8, 8, 8);
        ASSERT_NE(LoadScratchStrip(*warm.setup.services, 1), nullptr);
    }
    struct Case {
        uint32_t width, height;
        int32_t scaleDenominator, stripWidth, stripHeight;
        int64_t rasters;
    };
    for (const Case& c :
         {Case{1920, 1080, 1, 6, 1440, 2}, Case{3840, 2160, 1, 6, 2160, 4}, Case{1920, 1080, 2, 3, 720, 4}}) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << " at 1/" << c.scaleDenominator);
        StageFrame f(PixelLayout::BGRA8, c.width, c.height);
        f.in().fill(255, 200, 200, 200);
        f.start();
        for (int i = 0; i < 4; ++i) f.setup.effectContext->scaleTerms[i] = i % 2 ? c.scaleDenominator : 1;
        MemoryService& memory = f.host->memory();
        const int64_t live = memory.liveBytes(), made = memory.totalAllocations();
        ASSERT_EQ(memory.peakBytes(), live);
        ASSERT_EQ(f.run(&DeepScratchesStage<PIXEL_BGRA8>, 1, 30, 0.0, 0.0, 0.0), 0);
        EXPECT_EQ(memory.totalAllocations() - made, c.rasters);
        const int64_t strip = 6 * 1440 * 4, resampled = int64_t(c.stripWidth) * c.stripHeight * 4;
        EXPECT_EQ(memory.peakBytes() - live, 2 * strip + (c.rasters == 4 ? 2 * resampled : 0));
        EXPECT_EQ(memory.liveBytes(), live);

        const float p = float(scratchAt(f.data.block->deepScratches.entries.front())->position);
        const uint32_t left = uint32_t(std::max(int32_t(p), 0));
        const uint32_t right = uint32_t(std::min(int32_t(float(c.stripWidth) + p), int32_t(c.width)));
        const uint32_t bottom = uint32_t(std::min(c.stripHeight, int32_t(c.height)));
        const Changes seen = changes(f.in(), f.out());
        EXPECT_EQ(seen.box, (std::array<uint32_t, 4>{left, 0, right, bottom}));
        EXPECT_EQ(seen.count, int64_t(right - left) * bottom);
    }
}

// Opacity 15/255 on a flat frame: at most that much of white added (twice on a boosted row),
// nothing at the ends, most in the middle; inverted it takes away and black stays black; the
// second column gets half, truncated as the first is.
TYPED_TEST(Scratches, BasicScratchStrengthEndsInvertAndSecondColumn) {
    using Tag = TypeParam;
    const uint32_t white = Tag::white, base = white * 100 / 255;
    const float opacity = float(15.0 / 255.0), peak = opacity * float(white);
    for (bool invert : {false, true}) {
        SCOPED_TRACE(invert ? "inverted" : "plain");
        AcfPtr<Image> im(new Image(ImageSpec{8, 120, kLayout<Tag>, 12}));
        im->fill(white, base, base, base);
        Basic<Tag> s(0, 30, ScratchBounds{0, 0, 7, 120}, false);
        s.top = 10, s.bottom = 110, s.widthPixels = 2, s.opacity = opacity, s.position = 3.0;
        s.setInvert(invert);
        // One draw per row of the scratch in the frame, a second on a boosted row.
        rng::threadState() = kKnownState;
        Draws d{kKnownState};
        std::vector<bool> boosted(120, false);
        for (size_t y = 10; y <= 110; ++y) {
            boosted[y] = d.unit() * 100 < 25.1;
            if (boosted[y]) d.next();
        }
        ASSERT_FALSE(boosted[60]);
        ASSERT_TRUE(s.draw(ScratchPass{}, targetOf(*im.get())));
        EXPECT_EQ(rng::threadState(), d.state);

        const auto amount = [&](uint32_t x, uint32_t y) {
            const uint32_t v = im->channel(x, y, 1);
            return invert ? int64_t(base) - v : int64_t(v) - base;
        };
        const auto limit = [&](float v) { return int64_t(invert ? std::ceil(v) : std::floor(v)); };
        int64_t last = 0;
        for (uint32_t y = 0; y < 120; ++y) {
            for (uint32_t x = 0; x < 8; ++x) {
                ASSERT_EQ(im->channel(x, y, 0), white);
                ASSERT_EQ(im->channel(x, y, 2), im->channel(x, y, 1));
                ASSERT_EQ(im->channel(x, y, 3), im->channel(x, y, 1));
                if (x < 3 || x > 4 || y <= 10 || y >= 110) {
                    ASSERT_EQ(im->channel(x, y, 1), base) << x << "," << y;
                }
            }
            const int64_t first = amount(3, y), second = amount(4, y);
            ASSERT_GE(first, 0) << y;
            ASSERT_LE(first, limit(boosted[y] ? 2 * peak : peak)) << y;
            ASSERT_EQ(second, invert ? (first + 1) / 2 : first / 2) << y;
            if (y < 10 || y > 110 || boosted[y]) continue;
            // Rising to the middle row and falling after it.
            if (y <= 60) ASSERT_GE(first, last) << y;
            else ASSERT_LE(first, last) << y;
            last = first;
        }
        EXPECT_EQ(amount(3, 60), limit(peak));
    }
    AcfPtr<Image> black(new Image(ImageSpec{8, 120, kLayout<Tag>, 12}));
    black->fill(white, 0, 0, 0);
    Basic<Tag> s(0, 30, ScratchBounds{0, 0, 7, 120}, true);
    s.top = -20, s.bottom = 200, s.position = 6.0, s.widthPixels = 2, s.opacity = opacity;
    // Row 0 draws its flicker and never uses it: no second draw however low the first.
    forceDraws(0, 1000);
    Draws d{rng::threadState()};
    d.next();
    for (int y = 1; y < 120; ++y)
        if (d.unit() * 100 < 25.1) d.next();
    ASSERT_TRUE(s.draw(ScratchPass{}, targetOf(*black.get())));
    EXPECT_EQ(rng::threadState(), d.state);
    for (uint32_t v : snapshot(*black.get())) ASSERT_TRUE(v == 0 || v == white);
    // Placed at the last column, the second pixel falls outside and is not written.
    s.setInvert(false), s.position = 7.0;
    ASSERT_TRUE(s.draw(ScratchPass{}, targetOf(*black.get())));
    EXPECT_TRUE(black->guardsIntact());
    EXPECT_GT(black->channel(7, 60, 1), 0u);
}

// Tops in -270..270 and bottoms in 810..1350 on 1080 rows, both ends reached; the two raw
// draws modulo 541 place them exactly.
TEST(BasicScratchCreation, EndsWithinAQuarterOfTheHeight) {
    BasicScratch<PIXEL_BGRA8> generator(false);
    const ScratchBounds bounds{0, 0, 1919, 1080};
    const float k = float(10.0 / 255.0);
    int32_t lowTop = 0, highTop = 0, lowBottom = 1080, highBottom = 1080;
    rng::threadState() = kKnownState;
    for (int i = 0; i < 20000; ++i) {
        std::unique_ptr<ScratchObject> made(generator.createScratch(0, 30, bounds));
        const auto& b = static_cast<const BasicBase&>(*made);
        lowTop = std::min(lowTop, b.top), highTop = std::max(highTop, b.top);
        lowBottom = std::min(lowBottom, b.bottom), highBottom = std::max(highBottom, b.bottom);
        ASSERT_TRUE(b.opacity >= k && b.opacity <= 2 * k) << b.opacity;
        ASSERT_TRUE(b.widthPixels == 1 || b.widthPixels == 2);
    }
    EXPECT_EQ(std::tuple(lowTop, highTop, lowBottom, highBottom), std::tuple(-270, 270, 810, 1350));
    // Lifetime, drift, opacity, width, then the two raw draws: 3 x 541 + 7 and 540.
    forceDraws(4, 3 * 541 + 7, 540);
    std::unique_ptr<ScratchObject> placed(generator.createScratch(0, 30, bounds));
    const auto& ends = static_cast<const BasicBase&>(*placed);
    EXPECT_EQ(std::pair(ends.top, ends.bottom), std::pair(7 - 270, 1080 - 270 + 540));
    // Opacity r k + k with r = 1 is 2k; width round(r + 1) is 1 below r = 0.5, 2 from it.
    for (const auto& [draw, width] : {std::pair{16383u, 1}, std::pair{16384u, 2}}) {
        forceDraws(2, 32767, int32_t(draw));
        std::unique_ptr<ScratchObject> made(generator.createScratch(0, 30, bounds));
        EXPECT_EQ(static_cast<BasicBase&>(*made).opacity, float(2 * double(k)));
        EXPECT_EQ(static_cast<BasicBase&>(*made).widthPixels, width);
    }
}

namespace {

// The source multiplied by a mask of one value: white takes 8-bit values above 128 down one
// level and 16-bit ones not at all.
template <class Tag>
void expectSourceUnder(StageFrame& f, bool whiteMask) {
    const uint32_t white = Tag::white;
    for (uint32_t y = 0; y < f.in().shape().height; ++y)
        for (uint32_t x = 0; x < f.in().shape().width; ++x)
            for (int c = 0; c < 4; ++c) {
                const uint32_t v = f.in().channel(x, y, c);
                ASSERT_EQ(f.out().channel(x, y, c), c == 0 ? white : !whiteMask ? 0u : kIs16Bit<Tag> ? v : v - (v > 128))
                    << x << "," << y << " channel " << c;
            }
    EXPECT_TRUE(f.out().guardsIntact());
}

}  // namespace

// At opacity 0 the output is the source; without dots the mask is white. Under four rows the
// mask is empty: the output keeps what it held, multiplied onto the source.
TYPED_TEST(Scratches, MicroscratchesAtOpacityZeroWithoutDotsOrUnderFourRows) {
    using Tag = TypeParam;
    const uint32_t white = Tag::white;
    StageFrame f(kLayout<Tag>, 37, 50);
    f.out().fill(white, 0, white / 3, white);
    ASSERT_EQ(f.run(&MicroscratchesStage<Tag>, 300, 0.0f), 0);
    EXPECT_EQ(snapshot(f.out()), snapshot(f.in()));
    makeOpaque(f.in());
    f.start();
    ASSERT_EQ(f.run(&MicroscratchesStage<Tag>, 0, 1.0f), 0);
    expectSourceUnder<Tag>(f, true);
    for (uint32_t height : {1u, 2u, 3u})
        for (uint32_t held : {white, 0u}) {
            SCOPED_TRACE(::testing::Message() << height << " rows, output held " << held);
            StageFrame few(kLayout<Tag>, 9, height);
            makeOpaque(few.in());
            few.out().fill(white, held, held, held);
            ASSERT_EQ(few.run(&MicroscratchesStage<Tag>, 50, 1.0f), 0);
            expectSourceUnder<Tag>(few, held != 0);
        }
}

// One dot at mask column 13, row 150 of 308: a faint streak some 204 rows long from about
// row 424, in that column only.
TYPED_TEST(Scratches, MicroscratchesOneDotIsOneFaintStreak) {
    using Tag = TypeParam;
    const uint32_t white = Tag::white, grey = white * 200 / 255;
    StageFrame f(kLayout<Tag>, 32, 1080);
    f.in().fill(white, grey, grey, grey);
    f.start();
    ASSERT_EQ(f.run(&MicroscratchesStage<Tag>, 0, 1.0f), 0);
    const std::vector<uint32_t> plain = snapshot(f.out());
    f.start();
    forceDraws(0, 13741, 16010);  // round(13741 / 32767 x 31) = 13, round(16010 / 32767 x 307) = 150
    ASSERT_EQ(f.run(&MicroscratchesStage<Tag>, 1, 1.0f), 0);
    const std::vector<uint32_t> dotted = snapshot(f.out());
    int64_t first = -1, last = -1, rows = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
        if (plain[i] == dotted[i]) continue;
        const size_t pixel = i / 4, x = pixel % 32, y = pixel / 32;
        ASSERT_EQ(x, 13u) << "row " << y;
        ASSERT_NE(i % 4, 0u) << "alpha at row " << y;
        ASSERT_LT(dotted[i], plain[i]);
        ASSERT_LE(plain[i] - dotted[i], white / 40) << "row " << y;
        if (i % 4 == 1) rows += 1, first = first < 0 ? int64_t(y) : first, last = int64_t(y);
    }
    EXPECT_EQ(rows, last - first + 1) << "one unbroken run";
    EXPECT_GE(rows, 200);
    EXPECT_LE(rows, 208);
    EXPECT_GE(first, 420);
    EXPECT_LE(first, 428);
}

TYPED_TEST(Scratches, MicroscratchesRefusedRasterGivesFour) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 21, 30);
    for (int nth = 1; nth <= 3; ++nth)
        expectRefusalLeavesTheFrame(f, nth, [&] { return f.run(&MicroscratchesStage<Tag>, 40, 0.7f); });
}

TEST(ScratchLists, EachInstanceKeepsItsOwnAndGivesThemUpWhenDestroyed) {
    const int64_t live = ScratchObject::liveCount();
    {
        StageFrame a(PixelLayout::BGRA8, 48, 32), b(PixelLayout::BGRA8, 48, 32);
        a.setup.services->mFrameNumber = b.setup.services->mFrameNumber = 5;
        ASSERT_EQ(a.run(&DeepScratchesStage<PIXEL_BGRA8>, 3, 10, 1.0, 1.0, 1.0), 0);
        ASSERT_EQ(a.run(&BasicScratchesStage<PIXEL_BGRA8>, 2, 10, false), 0);
        ASSERT_EQ(b.run(&DeepScratchesStage<PIXEL_BGRA8>, 1, 10, 1.0, 1.0, 1.0), 0);
        EXPECT_EQ(a.data.block->deepScratches.entries.size(), 3u);
        EXPECT_EQ(a.data.block->basicScratches.entries.size(), 2u);
        EXPECT_EQ(b.data.block->deepScratches.entries.size(), 1u);
        EXPECT_TRUE(b.data.block->basicScratches.entries.empty());
        // b's next frame leaves a's scratches as they were.
        const std::vector<ScratchObject*> deep = scratchesOf(a.data.block->deepScratches);
        std::vector<double> where;
        for (ScratchObject* s : deep) where.push_back(s->position);
        b.setup.services->mFrameNumber = 6;
        ASSERT_EQ(b.run(&DeepScratchesStage<PIXEL_BGRA8>, 4, 10, 1.0, 1.0, 1.0), 0);
        ASSERT_EQ(b.run(&BasicScratchesStage<PIXEL_BGRA8>, 3, 10, true), 0);
        EXPECT_EQ(scratchesOf(a.data.block->deepScratches), deep);
        for (size_t i = 0; i < deep.size(); ++i) {
            EXPECT_EQ(deep[i]->position, where[i]);
            EXPECT_EQ(deep[i]->lastFrame, 5);
        }
        EXPECT_EQ(ScratchObject::liveCount(), live + 3 + 2 + 4 + 3);
    }
    EXPECT_EQ(ScratchObject::liveCount(), live);
}
