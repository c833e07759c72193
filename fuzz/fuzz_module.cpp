// libFuzzer target: the built module driven through the reference host as an editor would,
// with everything a careless or hostile host can hand it. One input describes up to two
// effect instances (frame shape, pixel layout, row padding, pixel data, render scale, field
// layout, pixel aspect and every parameter, far outside its range when the input says so),
// a fault for the host to inject (a refused allocation, or a failing call) and a sequence of
// renders with frame numbers that run backwards, repeat, jump and reach both ends of their
// type, mixed with parameter changes.
//
// After every render: a status the effect defines for what was injected, the input image
// untouched, row padding and guard bytes of both images intact. After the instances are
// gone: nothing left in the host's memory service, every host object released, and no
// request to the host larger than an instance block or a few frames. The sanitizers watch
// everything else.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "refhost/Faults.h"
#include "refhost/Module.h"
#include "testing/HostileHost.h"

using namespace refhost;

namespace {

constexpr uint32_t kLargestSide = 300;
constexpr int kMostOperations = 10;
const PixelLayout kLayouts[] = {PixelLayout::ARGB8, PixelLayout::BGRA8, PixelLayout::ARGB16, PixelLayout::BGRA16};
const ACFRESULT kInjectedStatuses[] = {int32_t(0x80000777u), ACF_E_OUTOFMEMORY, ACF_E_INVALIDARG, ACF_E_FAIL,
                                       INT32_MIN};

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz_module: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

struct Harness {
    std::unique_ptr<PluginModule> module;
    std::unique_ptr<HostSession> session;
    // The most the plug-in may ask of the host at once: an instance block, or a few of the
    // largest frames plus fixed tables. Anything more grew with a value.
    uint64_t largestFairRequest = 0;
};

Harness& harness() {
    static Harness h;
    return h;
}

// A value for one parameter: most often its default, then values in its range, the hostile
// values of its kind, just past its ends, or any value at all.
void chooseValue(FuzzedDataProvider& in, EffectInstance& effect, const ParameterDefinition& p) {
    const uint8_t choice = in.ConsumeIntegral<uint8_t>();
    auto attribute = [&](const acfUID& key, double fallback) {
        const Attribute* a = p.attribute(key);
        return a && a->bytes.size() == 8 ? a->as<double>() : fallback;
    };
    double value;
    if (p.dataType == TYPE_Boolean) {
        if (choice < 64) return;
        value = choice < 224 ? 1.0 : hostile::checkboxValues()[choice % hostile::checkboxValues().size()];
    } else {
        const double low = attribute(PROP_Minimum, 0), high = attribute(PROP_Maximum, 1);
        if (choice < 112) return;
        if (choice < 176) {
            value = low + (high - low) * in.ConsumeProbability<double>();
        } else if (choice < 216) {
            const auto& values = hostile::valuesFor(p.dataType);
            value = values[in.ConsumeIntegralInRange<size_t>(0, values.size() - 1)];
        } else if (choice < 236) {
            const double edges[] = {low - 1, high + 1, high * 10, -high * 1000, low - 1e9};
            value = edges[choice % 5];
        } else if (p.dataType == TYPE_Int32) {
            value = double(in.ConsumeIntegral<int32_t>());
        } else {
            value = in.ConsumeFloatingPoint<double>();
        }
    }
    effect.values().set(p.id, p.dataType, hostile::heldToTestTime(p.id, value));
}

// One instance with its own images and frame facts.
struct Subject {
    std::unique_ptr<EffectInstance> effect;
    AcfPtr<Image> input, output;
    int32_t scale[4] = {1, 1, 1, 1};
    int32_t frame = 0;
};

ImageSpec chooseShape(FuzzedDataProvider& in) {
    ImageSpec shape;
    shape.layout = kLayouts[in.ConsumeIntegralInRange(0, 3)];
    // Mostly small frames, which render fast; now and then up to the largest side.
    const uint32_t side = in.ConsumeProbability<float>() < 0.25f ? kLargestSide : 40;
    shape.width = in.ConsumeIntegralInRange<uint32_t>(1, side);
    shape.height = in.ConsumeIntegralInRange<uint32_t>(1, side);
    const bool sixteenBit = shape.layout == PixelLayout::ARGB16 || shape.layout == PixelLayout::BGRA16;
    // Rows padded by whole samples: the host keeps 16-bit samples aligned.
    shape.rowPadding = in.ConsumeIntegralInRange<int32_t>(0, 24) * (sixteenBit ? 2 : 1);
    if (in.ConsumeProbability<float>() < 0.2f) {
        const uint32_t layouts[] = {1, 2, 3, 0xFFFFFFFFu};
        shape.fieldLayout = layouts[in.ConsumeIntegralInRange(0, 3)];
    }
    if (in.ConsumeProbability<float>() < 0.2f) {
        const float aspects[] = {0.0f, -1.0f, 1e30f, float(hostile::kNaN), float(hostile::kInf), 0.5f};
        shape.pixelAspect = aspects[in.ConsumeIntegralInRange(0, 5)];
    }
    return shape;
}

// Picture data: in range, or any bytes at all (16-bit samples above white included).
void fillPicture(FuzzedDataProvider& in, Image& image) {
    const uint32_t seed = in.ConsumeIntegral<uint32_t>();
    if (in.ConsumeBool()) {
        image.fillRandom(seed);
        return;
    }
    uint32_t s = seed | 1u;
    const size_t used = size_t(image.shape().width) * size_t(image.bytesPerPixel());
    for (uint32_t y = 0; y < image.shape().height; ++y)
        for (size_t i = 0; i < used; ++i) {
            s = s * 1103515245u + 12345u;
            image.row(y)[i] = uint8_t(s >> 23);
        }
}

int32_t nextFrame(FuzzedDataProvider& in, int32_t previous) {
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: return int32_t(uint32_t(previous) + 1u);
    case 1: return int32_t(uint32_t(previous) - 1u);
    case 2: return previous;
    case 3: return in.ConsumeIntegral<int32_t>();
    case 4: return INT32_MIN;
    case 5: return INT32_MAX;
    case 6: return 0;
    default: return in.ConsumeIntegralInRange<int32_t>(-100, 100);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Harness& h = harness();
    std::string error;
    h.module = PluginModule::load(TARNIX_MODULE_PATH, &error);
    if (!h.module) fail(error);
    h.session = std::make_unique<HostSession>(*h.module, nullptr);
    if (h.session->open() != ACF_OK) fail("the module did not open");
    uint64_t block = 0;
    {
        EffectInstance effect(*h.session);
        block = uint64_t(h.session->host()->memory().liveBytes());
    }
    const uint64_t largestFrame = uint64_t(kLargestSide) * (kLargestSide * 8 + 48);
    // Beside those, the shared funk raster (2048 x 2048) and a splotch at the largest scale the
    // harness gives (2400 x 2400), 8 bytes a pixel.
    const uint64_t funk = uint64_t(2048) * 2048 * 8, splotch = uint64_t(2400) * 2400 * 8;
    h.largestFairRequest = std::max({block, 4 * largestFrame + (uint64_t(1) << 20), funk, splotch});
    return 0;
}

namespace {

void runInput(const uint8_t* data, size_t size) {
    Harness& h = harness();
    HostSession& session = *h.session;
    FuzzedDataProvider in(data, size);
    const long objectsBefore = liveObjects();
    faults().reset();

    // The fault, armed before the instances are made so that making them can fail too.
    ACFRESULT injected = ACF_OK;
    const uint8_t faultKind = in.ConsumeIntegral<uint8_t>();
    if (faultKind >= 192 && faultKind < 224) {
        faults().failAllocationAt = in.ConsumeIntegralInRange<int64_t>(1, 48);
        faults().failAllAllocationsAfter = in.ConsumeBool();
    } else if (faultKind >= 224) {
        injected = kInjectedStatuses[in.ConsumeIntegralInRange<size_t>(0, 4)];
        faults().failStatus = injected;
        faults().failCallAt = in.ConsumeIntegralInRange<int64_t>(1, 6000);
    }

    // A second instance in a quarter of the inputs: each costs a 5 MB block to make.
    std::vector<Subject> subjects(in.ConsumeProbability<float>() < 0.25f ? 2 : 1);
    for (Subject& s : subjects) {
        const ImageSpec shape = chooseShape(in);
        s.input.reset(new Image(shape));
        s.output.reset(new Image(shape));
        fillPicture(in, *s.input.get());
        if (in.ConsumeProbability<float>() < 0.25f) {
            const int32_t terms[] = {0, -1, 2, INT32_MIN, INT32_MAX, 1000000, 7};
            for (int32_t& t : s.scale) t = in.ConsumeBool() ? 1 : terms[in.ConsumeIntegralInRange(0, 6)];
        }
        s.effect = std::make_unique<EffectInstance>(session);
        const ACFRESULT made = s.effect->status();
        if (made != ACF_OK && made != ACF_E_OUTOFMEMORY && (injected == ACF_OK || made != injected))
            fail("making an instance gave " + std::to_string(made));
        if (made == ACF_OK)
            for (const ParameterDefinition* p : session.effect()->parameters) chooseValue(in, *s.effect, *p);
    }

    const int operations = in.ConsumeIntegralInRange(1, kMostOperations);
    for (int op = 0; op < operations && in.remaining_bytes() > 0; ++op) {
        Subject& s = subjects[in.ConsumeIntegralInRange<size_t>(0, subjects.size() - 1)];
        if (s.effect->status() != ACF_OK) continue;
        if (in.ConsumeProbability<float>() < 0.2f) {
            const auto& parameters = session.effect()->parameters;
            chooseValue(in, *s.effect, *parameters[in.ConsumeIntegralInRange<size_t>(0, parameters.size() - 1)]);
            continue;
        }
        s.frame = nextFrame(in, s.frame);
        RenderCall call{s.frame, double(s.frame)};
        if (in.ConsumeProbability<float>() < 0.1f) call.time = in.ConsumeFloatingPoint<double>();
        call.renderValue = in.ConsumeIntegral<uint8_t>();
        for (int i = 0; i < 4; ++i) call.scale[i] = s.scale[i];
        const hostile::FrameCopy before(*s.input.get());
        const ACFRESULT r = s.effect->render(*s.input.get(), *s.output.get(), call);
        if (r != ACF_OK && (injected == ACF_OK || r != injected))
            fail("frame " + std::to_string(s.frame) + " gave status " + std::to_string(r));
        const std::string damage = hostile::renderDamage(before, *s.input.get(), *s.output.get());
        if (!damage.empty()) fail(damage);
    }

    subjects.clear();
    faults().reset();
    if (session.host()->memory().liveBlocks() != 0)
        fail(std::to_string(session.host()->memory().liveBlocks()) + " blocks left in the host's memory service");
    if (liveObjects() != objectsBefore) fail("host objects not released");
    if (session.host()->memory().largestRequest() > h.largestFairRequest)
        fail("asked the host for " + std::to_string(session.host()->memory().largestRequest()) + " bytes at once");
}

}  // namespace

// Each input on a thread of its own: the stages' random generator is per thread, so every
// input starts it afresh and replays alone exactly as it ran.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::thread(runInput, data, size).join();
    return 0;
}
