// Every allocation a heavy-look frame makes through the host, refused in turn, each in a fresh
// load of the module: the instance fails as out of memory, or the frame renders with success
// as its failing step defines; nothing crashes and every block comes back.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ModuleSupport.h"
#include "refhost/Faults.h"
#include "refhost/ParameterCatalog.h"
#include "testing/HostileHost.h"

using namespace refhost;
using namespace module_support;

namespace {

constexpr uint32_t kWidth = 320, kHeight = 180;
constexpr int32_t kFrame = 7;

// Render-settings field and value; fields left out keep their defaults.
using Look = std::map<std::string, double>;

// Every stage on, few of each kind so a sweep stays short; splotches at 0.3 are 120 pixels
// square, a size no other raster has; the gates are open but on one frame in 32768.
Look heavyLook() {
    return {{"doFading", 1},        {"fadeAmount", 60},
            {"doFunk", 1},          {"funkOpacity", 30},
            {"doSplotches", 1},     {"splotchNumber", 3},         {"splotchesScale", 0.3},
            {"splotchesTransparency", 35}, {"splotchesFrequency", 100},
            {"doDust", 1},          {"blackNumber", 3},           {"whiteNumber", 3},
            {"dustOpacity", 0.7},   {"dustFreq", 1},
            {"doFlicker", 1},       {"flickerFreq", 1},           {"flickerAmount", 14},
            {"doVignette", 1},      {"vignetteSize", 35},         {"vignetteIntensity", 65},
            {"doDisplacement", 1},  {"displacementAmount", 3},
            {"doMicro", 1},         {"microNumber", 200},         {"microOpacity", 0.85},
            {"doGrain", 1},         {"doColorNoise", 1},          {"amountGrain", 0.6},
            {"softnessRed", 0.6},   {"softnessGreen", 0.8},       {"softnessBlue", 1},
            {"doDeepScratch", 1},   {"deepScratchNumber", 3},     {"deepScratchDuration", 48},
            {"deepScratchColorR", 150}, {"deepScratchColorG", 210}, {"deepScratchColorB", 130},
            {"doBasicScratch", 1},  {"basicScratchNumber", 4},    {"basicScratchDuration", 24},
            {"doInvert", 1},
            {"doGateweave", 1},     {"gateweaveFrequency", 0.4},  {"gateweaveAmplitude", 3},
            {"gateweaveNoiseFrequency", 8},
            {"doContrast", 1},      {"contrastAmount", 22}};
}

// The stages' switches in the order the frame runs them; post contrast last.
const std::vector<std::string> kOrder = {"doFading",       "doFunk",  "doSplotches",   "doDust",
                                         "doFlicker",      "doVignette", "doDisplacement", "doMicro",
                                         "doGrain",        "doDeepScratch", "doBasicScratch", "doGateweave",
                                         "doContrast"};

// The look of a frame that ends where `stage` fails before writing: it and all later off.
Look endedAt(Look look, const std::string& stage) {
    bool off = false;
    for (const std::string& s : kOrder) {
        off = off || s == stage;
        if (off) look[s] = 0;
    }
    return look;
}
Look with(Look look, const std::string& field, double value) {
    look[field] = value;
    return look;
}

std::string identifierOf(const std::string& field) {
    for (size_t i = 0; i < kParameterNameCount; ++i)
        if (field == kParameterNames[i].field) return kParameterNames[i].identifier;
    ADD_FAILURE() << "no parameter " << field;
    return {};
}

// What one fresh load of the module did with one frame.
struct FrameRun {
    std::vector<uint64_t> sizes;  // every request to the memory service, in order
    size_t atOpen = 0;            // requests made by start-up and registration
    size_t atCreation = 0;        // ... and by the time the instance exists
    ACFRESULT created = ACF_E_FAIL;
    std::optional<ACFRESULT> rendered;
    std::vector<uint8_t> output;  // the frame's pixels, without row padding
    std::string damage;           // input written or guards broken
    int64_t liveBlocks = -1;      // host blocks still held after the instance is destroyed
    long objectsLeft = 0;         // host objects not released after the session closed
};

std::vector<uint8_t> pixelsOf(const Image& image) {
    std::vector<uint8_t> out;
    const size_t used = size_t(image.shape().width) * size_t(image.bytesPerPixel());
    for (uint32_t y = 0; y < image.shape().height; ++y) {
        const uint8_t* row = image.pixels() + size_t(y) * size_t(image.rowBytes());
        out.insert(out.end(), row, row + used);
    }
    return out;
}

// Makes one instance with `look` in an open session, renders frame kFrame and destroys it.
void renderOnce(HostSession& session, PixelLayout layout, const Look& look, FrameRun& run) {
    EffectInstance effect(session);
    run.created = effect.status();
    run.atCreation = run.sizes.size();
    if (run.created != ACF_OK) return;
    for (const auto& [field, value] : look) EXPECT_TRUE(effect.set(identifierOf(field), value)) << field;
    AcfPtr<Image> input(new Image(imageSpec(layout, kWidth, kHeight)));
    AcfPtr<Image> output(new Image(imageSpec(layout, kWidth, kHeight)));
    input->fillRandom(11);
    const hostile::FrameCopy before(*input.get());
    run.rendered = effect.render(*input.get(), *output.get(), RenderCall{kFrame, double(kFrame)});
    run.damage = hostile::renderDamage(before, *input.get(), *output.get());
    run.output = pixelsOf(*output.get());
}

// One frame with `look` in a fresh load of the module; its `refuse`th request refused (0: none).
FrameRun renderFresh(PixelLayout layout, const Look& look, int64_t refuse) {
    FrameRun run;
    faults().reset();
    faults().requestSizes = &run.sizes;
    faults().failAllocationAt = refuse;
    const long objects = liveObjects();
    {
        auto module = loadModule();
        if (!module) return run;
        HostSession session(*module, nullptr);
        EXPECT_EQ(session.open(), ACF_OK);
        run.atOpen = run.sizes.size();
        renderOnce(session, layout, look, run);
        run.liveBlocks = session.host()->memory().liveBlocks();
        EXPECT_EQ(session.close(), ACF_OK);
    }
    run.objectsLeft = liveObjects() - objects;
    faults().reset();
    return run;
}

// What each request of the frame is for, from the stages' own definitions of what they make.
enum class Kind {
    InstanceBlock,    // the instance's block, while the instance is made
    FadedLayer,       // fading's copy of the frame
    FunkRaster,       // the shared 2048 x 2048 funk raster
    FunkTexture,      // the raster the funk bitmap is decoded through, loading its set
    SplotchWork,      // the splotch texture's working raster
    SplotchTextures,  // decoding the splotch set, at the first splotch
    Splotch,          // the scaled raster of splotch `index`
    DarkWork,         // the dark speck pass's working raster
    DustTextures,     // decoding the dust set, at the first speck
    DarkSpeck,        // dark speck `index`
    LightWork,        // the light speck pass's working raster
    LightSpeck,       // light speck `index`
    MicroMask,        // microscratches: the dot mask, the blurred mask, the cropped mask
    MicroBlurred,
    MicroCropped,
    GrainLayer,       // the grain layer and its blur buffer
    GrainBlur,
    DeepStrip,        // a deep scratch's highlight or groove, or the strip set's decoding raster
    GateWeaveCopy,    // gate weave's copy of the frame
};
const char* kindName(Kind k) {
    static const char* const names[] = {"instance block", "faded layer", "funk raster", "funk texture",
                                        "splotch working raster", "splotch textures", "splotch", "dark dust working raster",
                                        "dust textures", "dark speck", "light dust working raster", "light speck",
                                        "microscratch mask", "microscratch blurred mask", "microscratch cropped mask",
                                        "grain layer", "grain blur buffer", "deep scratch strip", "gate weave copy"};
    return names[int(k)];
}

struct Position {
    Kind kind;
    int index = 0;      // 1-based, for splotches and specks
    uint64_t size = 0;  // bytes; 0 for a speck, whose side is drawn at random
};

// The requests in order: `deepDrawn` deep scratches, each highlight and groove, the first also
// loading the strip set.
std::vector<Position> expectedPositions(uint64_t bpp, const Look& look, int deepDrawn) {
    const uint64_t frame = uint64_t(kWidth) * kHeight * bpp;
    const uint64_t funk = 2048ull * 2048 * bpp, splotchSide = 120;
    const uint64_t q = kHeight / 4, mask = uint64_t(kWidth) * (q + 38) * bpp;
    const uint64_t strip = 6ull * 1440 * bpp, speckWork = 32ull * 32 * bpp;
    std::vector<Position> p = {{Kind::InstanceBlock}, {Kind::FadedLayer, 0, frame}, {Kind::FunkRaster, 0, funk},
                               {Kind::FunkTexture, 0, funk}, {Kind::SplotchWork, 0, 400ull * 400 * bpp},
                               {Kind::SplotchTextures, 0, 400ull * 400 * bpp}};
    for (int i = 1; i <= int(look.at("splotchNumber")); ++i) p.push_back({Kind::Splotch, i, splotchSide * splotchSide * bpp});
    p.push_back({Kind::DarkWork, 0, speckWork});
    p.push_back({Kind::DustTextures, 0, speckWork});
    for (int i = 1; i <= int(look.at("blackNumber")); ++i) p.push_back({Kind::DarkSpeck, i, 0});
    p.push_back({Kind::LightWork, 0, speckWork});
    for (int i = 1; i <= int(look.at("whiteNumber")); ++i) p.push_back({Kind::LightSpeck, i, 0});
    p.push_back({Kind::MicroMask, 0, mask});
    p.push_back({Kind::MicroBlurred, 0, mask});
    p.push_back({Kind::MicroCropped, 0, uint64_t(kWidth) * q * bpp});
    p.push_back({Kind::GrainLayer, 0, frame});
    p.push_back({Kind::GrainBlur, 0, frame});
    for (int i = 0; i < 2 * deepDrawn + 1; ++i) p.push_back({Kind::DeepStrip, 0, strip});
    p.push_back({Kind::GateWeaveCopy, 0, frame});
    return p;
}

// At the least three curve tables, the float weights and the 256 x 5000 gamma table.
constexpr uint64_t kLeastInstanceBlock = 3ull * 32769 * 2 + 16385ull * 4 + 256ull * 5000 * 4;

bool fits(const Position& p, uint64_t size, uint64_t bpp) {
    if (p.kind == Kind::InstanceBlock) return size >= kLeastInstanceBlock;
    if (p.size != 0) return size == p.size;
    // A speck is square, 32 pixels scaled by 0.2 to 1.5 and rounded.
    for (uint64_t side = 6; side <= 48; ++side)
        if (size == side * side * bpp) return true;
    return false;
}

// The look a frame whose `p` is refused equals, or none where no look reproduces its draws.
std::optional<Look> sameAs(const Position& p, const Look& look) {
    switch (p.kind) {
    case Kind::InstanceBlock: return std::nullopt;
    // Status 4 before fading writes: the frame stays the copied source.
    case Kind::FadedLayer: return endedAt(look, "doFading");
    // Status 4 from the driver before funk.
    case Kind::FunkRaster: return endedAt(look, "doFunk");
    // No funk texture: a clear raster laid over, as an opacity too small to show.
    case Kind::FunkTexture: return with(look, "funkOpacity", 0.005);
    // Status 1 before any splotch.
    case Kind::SplotchWork:
    case Kind::SplotchTextures: return endedAt(look, "doSplotches");
    // Status 1 after the splotches before it.
    case Kind::Splotch: return with(endedAt(look, "doDust"), "splotchNumber", p.index - 1);
    // The dark pass ends before any draw; the light pass's 0 is the stage's status.
    case Kind::DarkWork: return with(look, "blackNumber", 0);
    case Kind::DustTextures:
    case Kind::DarkSpeck: return std::nullopt;
    // The light pass's status 1 is the stage's: the frame ends after the specks before it.
    case Kind::LightWork: return with(endedAt(look, "doFlicker"), "whiteNumber", 0);
    case Kind::LightSpeck: return with(endedAt(look, "doFlicker"), "whiteNumber", p.index - 1);
    // Status 4 before the output is written.
    case Kind::MicroMask:
    case Kind::MicroBlurred:
    case Kind::MicroCropped: return endedAt(look, "doMicro");
    case Kind::GrainLayer:
    case Kind::GrainBlur: return endedAt(look, "doGrain");
    // A deep scratch that cannot be drawn stops the walk; the stage succeeds and the frame goes on.
    case Kind::DeepStrip: return std::nullopt;
    case Kind::GateWeaveCopy: return endedAt(look, "doGateweave");
    }
    return std::nullopt;
}

std::string keyOf(const Look& look) {
    std::string key;
    for (const auto& [field, value] : look) key += field + "=" + std::to_string(value) + ";";
    return key;
}

void expectClean(const FrameRun& run, const std::string& what) {
    EXPECT_EQ(run.damage, "") << what;
    EXPECT_EQ(run.liveBlocks, 0) << what << ": host blocks kept after the instance was destroyed";
    EXPECT_EQ(run.objectsLeft, 0) << what << ": host objects kept";
}

void sweep(PixelLayout layout, const char* name) {
    SCOPED_TRACE(name);
    const auto started = std::chrono::steady_clock::now();
    const uint64_t bpp = (layout == PixelLayout::ARGB16 || layout == PixelLayout::BGRA16) ? 8 : 4;
    const Look look = heavyLook();

    const FrameRun counted = renderFresh(layout, look, 0);
    ASSERT_EQ(counted.created, ACF_OK);
    ASSERT_EQ(counted.rendered, std::optional<ACFRESULT>(ACF_OK));
    expectClean(counted, "no refusal");
    ASSERT_EQ(counted.atOpen, 0u) << "start-up and registration take nothing from the memory service";
    ASSERT_EQ(counted.atCreation, 1u) << "the instance takes its block in one piece";
    // A second fresh load asks for the same, texture sets included, and renders the same frame.
    const FrameRun again = renderFresh(layout, look, 0);
    EXPECT_EQ(again.sizes, counted.sizes);
    EXPECT_EQ(again.output, counted.output);

    const uint64_t strip = 6ull * 1440 * bpp;
    const int strips = int(std::count(counted.sizes.begin(), counted.sizes.end(), strip));
    const int deepDrawn = (strips - 1) / 2;
    EXPECT_TRUE(strips % 2 == 1 && deepDrawn >= 1 && deepDrawn <= int(look.at("deepScratchNumber"))) << strips;
    const std::vector<Position> positions = expectedPositions(bpp, look, deepDrawn);
    ASSERT_EQ(counted.sizes.size(), positions.size()) << "requests of a heavy-look frame";
    for (size_t i = 0; i < positions.size(); ++i)
        ASSERT_TRUE(fits(positions[i], counted.sizes[i], bpp))
            << "request " << i + 1 << " (" << counted.sizes[i] << " bytes) should be the " << kindName(positions[i].kind);

    // The frames the failing steps define, each in an instance of its own.
    std::map<std::string, std::vector<uint8_t>> references;
    {
        auto module = loadModule();
        ASSERT_TRUE(module);
        HostSession session(*module, nullptr);
        ASSERT_EQ(session.open(), ACF_OK);
        for (const Position& p : positions)
            if (const std::optional<Look> expected = sameAs(p, look); expected && !references.count(keyOf(*expected))) {
                FrameRun r;
                renderOnce(session, layout, *expected, r);
                EXPECT_EQ(r.rendered, std::optional<ACFRESULT>(ACF_OK));
                references[keyOf(*expected)] = r.output;
            }
        EXPECT_EQ(session.host()->memory().liveBlocks(), 0);
        EXPECT_EQ(session.close(), ACF_OK);
    }

    const int64_t n = int64_t(positions.size());
    int compared = 0;
    for (int64_t at = 1; at <= n; ++at) {
        const Position& p = positions[size_t(at - 1)];
        char what[96];
        std::snprintf(what, sizeof what, "request %lld refused, the %s", static_cast<long long>(at), kindName(p.kind));
        if (p.index) std::snprintf(what + std::strlen(what), sizeof what - std::strlen(what), " %d", p.index);
        SCOPED_TRACE(what);
        const FrameRun run = renderFresh(layout, look, at);
        ASSERT_GE(run.sizes.size(), size_t(at)) << "the request was made";
        EXPECT_TRUE(std::equal(run.sizes.begin(), run.sizes.begin() + at, counted.sizes.begin()))
            << "the same requests up to the refused one";
        expectClean(run, what);
        if (p.kind == Kind::InstanceBlock) {
            EXPECT_EQ(run.created, ACF_E_OUTOFMEMORY);
            EXPECT_FALSE(run.rendered.has_value());
            continue;
        }
        ASSERT_EQ(run.created, ACF_OK);
        // The render entry answers success whatever the pipeline reports.
        EXPECT_EQ(run.rendered, std::optional<ACFRESULT>(ACF_OK));
        if (const std::optional<Look> expected = sameAs(p, look)) {
            EXPECT_TRUE(run.output == references.at(keyOf(*expected)))
                << "the frame differs from the one its failing step defines";
            ++compared;
        } else {
            EXPECT_FALSE(run.output.empty());
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("[ sweep    ] %s %ux%u: N = %lld allocations through the host (1 instance block, %lld for the frame, "
                "%d deep scratches drawn), each refused once; %d frames compared with a reference look (%zu "
                "references); %.1f s\n",
                name, kWidth, kHeight, static_cast<long long>(n), static_cast<long long>(n - 1), deepDrawn, compared,
                references.size(), seconds);
}

}  // namespace

// The other two layouts make the same requests as their depth's swept one.
TEST(AllocationSweep, TheOtherLayoutsAskTheSame) {
    const Look look = heavyLook();
    for (const auto& [layout, sameAs, name] : {std::tuple{PixelLayout::BGRA8, PixelLayout::ARGB8, "BGRA 8-bit"},
                                               std::tuple{PixelLayout::ARGB16, PixelLayout::BGRA16, "ARGB 16-bit"}}) {
        const FrameRun run = renderFresh(layout, look, 0), swept = renderFresh(sameAs, look, 0);
        EXPECT_EQ(run.rendered, std::optional<ACFRESULT>(ACF_OK));
        expectClean(run, name);
        EXPECT_EQ(run.sizes, swept.sizes) << name;
        std::printf("[ sweep    ] %s %ux%u: N = %zu allocations through the host\n", name, kWidth, kHeight,
                    run.sizes.size());
    }
}

TEST(AllocationSweep, EveryHostAllocationOfAHeavyFrameRefusedOnce8BitARGB) { sweep(PixelLayout::ARGB8, "ARGB 8-bit"); }
TEST(AllocationSweep, EveryHostAllocationOfAHeavyFrameRefusedOnce16BitBGRA) { sweep(PixelLayout::BGRA16, "BGRA 16-bit"); }
