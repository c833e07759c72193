// libFuzzer target: the built module driven through the reference host as an editor would,
// with everything a careless or hostile host can hand it, and the built frei0r filter driven
// through its entry points as a frei0r host would (Frei0rTarget.cpp). The first byte of an
// input chooses which; the layout of the rest is in FuzzInput.h.
//
// A module input describes up to two effect instances (frame shape, pixel layout, row padding,
// pixel data, render scale, field layout, pixel aspect and every parameter, far outside its
// range when the input says so), a fault for the host to inject (a refused allocation, or a
// failing call) and a few operations: renders with frame numbers that run backwards, repeat,
// jump and reach both ends of their type, parameter changes, keyed parameters, frame-size
// changes between frames, renders the effect must refuse (input and output that do not match,
// images it cannot render, missing contexts), and instances destroyed and made again.
//
// After every render: a status the effect defines for what was asked or injected, the input
// image untouched, row padding and guard bytes of both images intact. After the instances are
// gone: the host's memory service holds what it held before the input, every host object is
// released, and no request to the host was larger than an instance block or a few frames.
// The sanitizers watch everything else.
//
// Speed: the module stays loaded and registered across inputs, and one instance made at start
// (the anchor) keeps the state the module shares between instances (the texture sets, the funk
// raster at 8 bits): otherwise every input would pay for decoding the textures and building the
// 2048 x 2048 funk raster again. An input that leaves that state changed (a funk raster at
// 16 bits, or none after a refused allocation) has it rebuilt afterwards, so the next input
// starts from the same state and every input replays alone exactly as it ran. A cold start
// (rare, see kCostly in FuzzInput.h) drops all of it and registers the module afresh, with the
// fault armed, so that registration, texture loading and the first instance's shared data meet
// faults too.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/resource.h>
#include <string>
#include <vector>

#include "fuzz/Frei0rTarget.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/Seeds.h"
#include "refhost/Faults.h"
#include "refhost/Module.h"
#include "sdk/sdk_ids.h"
#include "testing/HostileHost.h"

using namespace refhost;
using namespace fuzzinput;

namespace fuzzinput {
Layout& layout() {
    static Layout l;
    return l;
}
}  // namespace fuzzinput

namespace {

const PixelLayout kLayouts[] = {PixelLayout::ARGB8, PixelLayout::BGRA8, PixelLayout::ARGB16, PixelLayout::BGRA16};
const ACFRESULT kInjectedStatuses[] = {int32_t(0x80000777u), ACF_E_OUTOFMEMORY, ACF_E_INVALIDARG, ACF_E_FAIL,
                                       INT32_MIN};
// The longest side of a long, thin frame: past the funk raster's 2048 and past the 16-bit
// rectangles the stages address rasters with.
constexpr uint32_t kLongestSide = 70000;
constexpr uint32_t kMediumSide = 320;
constexpr uint32_t kSmallSide = 64;
constexpr size_t kPooledBlocks = 6;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz_module: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// What the module is told about a parameter, read from its definition once.
struct Setting {
    acfUID id, dataType;
    bool checkbox;
    double low, high;
    bool costly;  // a count or a size the stage loops over: in-range values lean to the low end
    double lightCap;    // what it is held to unless the input asks for heavy work
    double lightFloor;  // the same from below
};

struct Harness {
    std::unique_ptr<PluginModule> module;
    std::unique_ptr<HostSession> session;
    std::unique_ptr<EffectInstance> anchor;  // keeps the shared state, see the head of the file
    AcfPtr<Image> dot, dotOut;               // the anchor's 1 x 1 frame
    int64_t baseBlocks = 0, baseBytes = 0;   // what the anchor and the shared state hold
    std::vector<Setting> settings;
    // The most the plug-in may ask of the host at once: an instance block, or a few of the
    // largest frames plus fixed tables. Anything more grew with a value.
    uint64_t largestFairRequest = 0;
};

Harness& harness() {
    static Harness h;
    return h;
}

double attribute(const ParameterDefinition& p, const acfUID& key, double fallback) {
    const Attribute* a = p.attribute(key);
    return a && a->bytes.size() == 8 ? a->as<double>() : fallback;
}

void readSettings(Harness& h) {
    // Each splotch, speck and scratch costs a raster and a composite, a deep scratch its curve
    // tables too: a handful tells the stage as much as a hundred. Splotch rasters grow with the
    // square of the scale.
    static const std::pair<const char*, double> costly[] = {
        {"Plugin_FXid_SplotchNumber", 6},      {"Plugin_FXid_BlackNumber", 12},
        {"Plugin_FXid_WhiteNumber", 12},       {"Plugin_FXid_Number", 400},
        {"Plugin_FXid_DeepScratchNumber", 2},  {"Plugin_FXid_BasicScratchNumber", 6},
        {"Plugin_FXid_SplotchesScale", 2}};
    h.settings.clear();
    for (const ParameterDefinition* p : h.session->effect()->parameters) {
        Setting s{p->id, p->dataType, p->dataType == TYPE_Boolean, attribute(*p, PROP_Minimum, 0),
                  attribute(*p, PROP_Maximum, 1), false, hostile::kInf, -hostile::kInf};
        for (const auto& [id, cap] : costly)
            if (p->id == HostSession::parameterUID(id)) {
                s.costly = true;
                s.lightCap = cap;
            }
        // A scratch born with a negative lifetime is replaced and drawn again at once until a
        // draw gives it one: a few steps below 0 take every path of that chain.
        for (const char* id : {"Plugin_FXid_DeepScratchDuration", "Plugin_FXid_BasicScratchDuration"})
            if (p->id == HostSession::parameterUID(id)) s.lightFloor = -4;
        h.settings.push_back(s);
    }
    layout().settings = h.settings.size();
    layout().checkbox.assign(h.settings.size(), false);
    for (size_t i = 0; i < h.settings.size(); ++i) layout().checkbox[i] = h.settings[i].checkbox;
}

double unitOf(uint64_t bits) { return double(bits >> 11) * 0x1.0p-53; }

// A parameter's value for a selector and its payload; false: leave the default.
bool settingValue(const Setting& s, uint8_t selector, const Reader& payload, size_t at, double* value) {
    const uint64_t bits = payload.u64(at);
    if (s.checkbox) {
        if (selector < kFirstOn) return false;
        if (selector < kFirstOff) *value = 1.0;
        else if (selector < kFirstHostileBox) *value = 0.0;
        else *value = hostile::checkboxValues()[bits % hostile::checkboxValues().size()];
        return true;
    }
    if (selector < kFirstInRange) return false;
    if (selector < kFirstHostile) {
        double u = unitOf(bits);
        if (s.costly) u = u * u * u;
        *value = s.low + (s.high - s.low) * u;
    } else if (selector < kFirstEdge) {
        const auto& values = hostile::valuesFor(s.dataType);
        *value = values[bits % values.size()];
    } else if (selector < kFirstRaw) {
        const double edges[] = {s.low, s.high, s.low - 1, s.high + 1, s.high * 10, -s.high * 1000, s.low - 1e9, 0};
        *value = edges[bits % 8];
    } else if (s.dataType == TYPE_Int32) {
        *value = double(int32_t(uint32_t(bits)));
    } else {
        *value = payload.f64(at);
    }
    return true;
}

// The value as the render gets it: held where the hostile test holds it, and where a light
// input holds it.
double held(const Setting& s, double value, bool heavy) {
    value = hostile::heldToTestTime(s.id, value);
    if (heavy) return value;
    return value > s.lightCap ? s.lightCap : value < s.lightFloor ? s.lightFloor : value;
}

void applySetting(EffectInstance& effect, const Setting& s, uint8_t selector, const Reader& payload, size_t at,
                  bool heavy) {
    double value;
    if (settingValue(s, selector, payload, at, &value)) effect.values().set(s.id, s.dataType, held(s, value, heavy));
}

// One instance with its own images and frame facts.
struct Subject {
    Reader record{nullptr, 0};
    std::unique_ptr<EffectInstance> effect;
    AcfPtr<Image> input, output;
    int32_t scale[4] = {1, 1, 1, 1};
    int32_t frame = 0;
};

ImageSpec shapeOf(const Reader& r) {
    ImageSpec shape;
    shape.layout = kLayouts[r.at(kLayout) % 4];
    const uint8_t size = r.at(kSizeClass);
    const uint32_t w = r.u16(kWidth), h = r.u16(kHeight);
    if (size < kFirstMediumSize) {
        // Up to 64 a side, most often under 20: every row and column case of the stages shows
        // in frames that small, and a render costs what its pixels cost.
        shape.width = 1 + (w % kSmallSide) * (w % kSmallSide) / kSmallSide;
        shape.height = 1 + (h % kSmallSide) * (h % kSmallSide) / kSmallSide;
    } else if (size < kFirstLongRow) {
        shape.width = 1 + w % kMediumSide;
        shape.height = 1 + h % kMediumSide;
    } else {
        // One side past the funk raster, the other a few rows, so the frame stays cheap.
        const uint32_t along = 2049 + (w * 7u) % (kLongestSide - 2048), across = 1 + h % 3;
        shape.width = size < kFirstLongColumn ? along : across;
        shape.height = size < kFirstLongColumn ? across : along;
    }
    const bool sixteenBit = shape.layout == PixelLayout::ARGB16 || shape.layout == PixelLayout::BGRA16;
    // Rows padded by whole samples: the host keeps 16-bit samples aligned.
    shape.rowPadding = int32_t(r.at(kPadding) % 25) * (sixteenBit ? 2 : 1);
    if (const uint8_t f = r.at(kFieldLayout); f >= 224) {
        const uint32_t layouts[] = {1, 2, 3, 0xFFFFFFFFu, 0};
        shape.fieldLayout = layouts[f % 5];
    }
    if (const uint8_t a = r.at(kAspect); a >= 224) {
        const float aspects[] = {0.0f, -1.0f, 1e30f, float(hostile::kNaN), float(hostile::kInf), 0.5f};
        shape.pixelAspect = aspects[a % 6];
    }
    return shape;
}

// Picture data: samples in range (0..white, opaque or not), or any bytes at all (16-bit
// samples above white included). Not traced: its compares teach the fuzzer nothing and cost a
// call per sample.
__attribute__((no_sanitize("coverage"))) void fillPicture(const Reader& r, Image& image) {
    uint32_t s = r.u32(kSeed) | 1u;
    const bool any = r.at(kFill) & 1, sixteen = image.is16Bit();
    const uint32_t levels = uint32_t(image.white()) + 1;
    const size_t samples = size_t(image.shape().width) * 4;
    for (uint32_t y = 0; y < image.shape().height; ++y) {
        uint8_t* row = image.row(y);
        for (size_t i = 0; i < samples; ++i) {
            s = s * 1103515245u + 12345u;
            if (!sixteen) {
                row[i] = uint8_t(s >> 23);
            } else {
                const uint16_t v = any ? uint16_t(s >> 16) : uint16_t((s >> 16) % levels);
                std::memcpy(row + 2 * i, &v, sizeof v);
            }
        }
    }
}

// Render scales: 1:1, halves, near 0, 0, negative, undefined, huge.
void scaleOf(const Reader& r, int32_t scale[4]) {
    static const int32_t presets[][2] = {{1, 2},       {1, 1000000}, {1, INT32_MAX}, {0, 1},        {-1, 1},
                                         {1, 0},       {2, 1},       {INT32_MIN, 1}, {INT32_MAX, 1}, {1, -3},
                                         {7, 1000000}, {3, 4}};
    constexpr size_t n = sizeof presets / sizeof presets[0];
    const uint8_t x = r.at(kScaleX), y = r.at(kScaleY);
    if (x < kFirstScalePreset) return;
    scale[0] = presets[x % n][0];
    scale[1] = presets[x % n][1];
    scale[2] = presets[y % n][0];
    scale[3] = presets[y % n][1];
}

void makeImages(Subject& s, const ImageSpec& shape, const Reader& picture) {
    s.input.reset(new Image(shape));
    s.output.reset(new Image(shape));
    fillPicture(picture, *s.input.get());
}

int32_t nextFrame(uint8_t rule, int32_t payload, int32_t previous) {
    switch (rule % 8) {
    case 0: return int32_t(uint32_t(previous) + 1u);
    case 1: return int32_t(uint32_t(previous) - 1u);
    case 2: return previous;
    case 3: return payload;
    case 4: return INT32_MIN;
    case 5: return INT32_MAX;
    case 6: return 0;
    default: return payload % 101;
    }
}

// The status the effect gives when the host fails as told, or anything else it may give.
struct Expected {
    ACFRESULT injected = ACF_OK;
    bool allocationFault = false;
    // A registration that lost a definition to a failing host call still succeeds; every
    // capture then stops at the parameter the host does not know, with the host's status.
    bool lostParameter = false;
    // The funk raster is one for all instances, built for the depth of the frame that asks:
    // at 16 bits it costs as much as a hundred small renders, and the next input would pay
    // again to have it at 8 bits. Only inputs that say so get it.
    bool deepFunk = false;
    bool heavy = false;  // counts and sizes up to the hostile test's holds
};

void makeInstance(HostSession& session, Subject& s, const Expected& expected, const std::vector<Setting>& settings) {
    s.effect = std::make_unique<EffectInstance>(session);
    const ACFRESULT made = s.effect->status();
    if (made != ACF_OK && made != ACF_E_OUTOFMEMORY && (expected.injected == ACF_OK || made != expected.injected))
        fail("making an instance gave " + std::to_string(made));
    if (made == ACF_OK)
        for (size_t i = 0; i < settings.size(); ++i) {
            const size_t at = kShapeSize + i * kSettingSize;
            applySetting(*s.effect, settings[i], s.record.at(at), s.record, at + 1, expected.heavy);
        }
}

void checkRender(ACFRESULT r, ACFRESULT wanted, const Expected& expected, const char* what, int32_t frame) {
    if (r == wanted || (expected.injected != ACF_OK && r == expected.injected)) return;
    if (expected.lostParameter && r == ACF_E_INVALIDARG) return;
    fail(std::string(what) + " of frame " + std::to_string(frame) + " gave status " + std::to_string(r) +
         ", not " + std::to_string(wanted));
}

void render(Subject& s, const Reader& op, const Expected& expected) {
    const uint8_t a = op.at(kOpA);
    const int32_t payload = int32_t(op.u32(kOpPayload));
    s.frame = nextFrame(a, payload, s.frame);
    RenderCall call{s.frame, double(s.frame)};
    if ((a >> 3) == 31) call.time = op.f64(kOpPayload);  // any time at all for the parameters
    call.renderValue = op.at(kOpB);
    for (int i = 0; i < 4; ++i) call.scale[i] = s.scale[i];
    if (!expected.deepFunk && s.input->is16Bit()) {
        static const acfUID doFunk = HostSession::parameterUID("Plugin_FXid_DoFunk");
        s.effect->values().set(doFunk, TYPE_Boolean, 0.0);
    }
    const hostile::FrameCopy before(*s.input.get());
    const ACFRESULT r = s.effect->render(*s.input.get(), *s.output.get(), call);
    checkRender(r, ACF_OK, expected, "render", s.frame);
    const std::string damage = hostile::renderDamage(before, *s.input.get(), *s.output.get());
    if (!damage.empty()) fail(damage);
}

// A render the effect must refuse, the images left alone.
void badRender(Subject& s, const Reader& op, const Expected& expected) {
    RenderCall call{s.frame, double(s.frame)};
    for (int i = 0; i < 4; ++i) call.scale[i] = s.scale[i];
    ImageSpec in = s.input->shape(), out = s.output->shape();
    const uint8_t b = op.at(kOpB);
    switch (op.at(kOpA) % 5) {
    case 0:  // the input another size
        in.width += b & 1 ? 1 : 0;
        in.height += b & 1 ? 0 : 1;
        break;
    case 1:  // the input in another depth or channel order
        in.layout = kLayouts[(int(in.layout) + 1 + b % 3) % 4];
        break;
    case 2: out.colorSpace = b & 1 ? 0 : 7; break;
    case 3: out.channels = b & 1 ? 3 : 1; break;
    default: {
        // Contexts a host forgot: refused before anything is asked of the host.
        const ACFRESULT r = s.effect->effect()->ProcessFrame(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                             nullptr);
        if (r != ACF_E_POINTER) fail("a render without contexts gave " + std::to_string(r));
        return;
    }
    }
    AcfPtr<Image> input(new Image(in)), output(new Image(out));
    input->fillRandom(op.u32(kOpPayload));
    const hostile::FrameCopy before(*input.get());
    const ACFRESULT r = s.effect->render(*input.get(), *output.get(), call);
    checkRender(r, ACF_E_FAIL, expected, "a mismatched render", s.frame);
    const std::string damage = hostile::renderDamage(before, *input.get(), *output.get());
    if (!damage.empty()) fail(damage);
}

// Two keys for one parameter at times around the frames rendered, or far from them.
void keyParameter(Subject& s, const Reader& op, const std::vector<Setting>& settings, bool heavy) {
    const Setting& p = settings[op.at(kOpA) % settings.size()];
    const double times[] = {0, 1, -1, 1e300, -1e300, double(INT32_MAX), double(INT32_MIN), 0.5};
    const uint8_t b = op.at(kOpB);
    const double t0 = double(s.frame) + times[b % 8], t1 = t0 + times[(b >> 3) % 8];
    double v0 = p.low, v1 = p.high;
    settingValue(p, uint8_t(op.at(kOpSubject) | 0x40), op, kOpPayload, &v1);
    if (!std::isfinite(t0) || !std::isfinite(t1)) return;
    s.effect->values().setKeys(p.id, p.dataType,
                               {{std::min(t0, t1), held(p, v0, heavy)}, {std::max(t0, t1), held(p, v1, heavy)}});
}

// Registers the module afresh; the fault, if armed, may fail it. The host keeps freed blocks
// of a megabyte or more for reuse, as an editor's raster pool does: a fresh 5 MB instance block
// costs more page faults than a whole small render.
ACFRESULT openSession(Harness& h) {
    h.session = std::make_unique<HostSession>(*h.module, nullptr);
    h.session->host()->memory().keepFreedBlocks(kPooledBlocks);
    return h.session->open();
}

// The anchor made and a few frames rendered with every stage on, so that every texture set
// is loaded and the funk raster built at 8 bits.
void warmUp(Harness& h) {
    h.anchor = std::make_unique<EffectInstance>(*h.session);
    if (h.anchor->status() != ACF_OK) fail("the anchor instance was not made");
    hostile::everyStageOn(*h.session->effect(), h.anchor->values());
    for (const auto& [id, v] : {std::pair<const char*, double>{"Plugin_FXid_SplotchesFrequency", 100},
                                {"Plugin_FXid_DustFreq", 1}, {"Plugin_FXid_FunkOpacity", 50}})
        h.anchor->set(id, v);
    ImageSpec shape;
    shape.width = shape.height = 32;
    AcfPtr<Image> input(new Image(shape)), output(new Image(shape));
    input->fillRandom(1);
    for (int32_t frame = 0; frame < 3; ++frame)
        if (h.anchor->render(*input.get(), *output.get(), RenderCall{frame, double(frame)}) != ACF_OK)
            fail("the anchor did not render");
    // From here on the anchor renders one pixel with the funk alone (see resetRandom).
    for (const Setting& s : h.settings)
        if (s.checkbox) h.anchor->values().set(s.id, s.dataType, 0.0);
    h.anchor->set("Plugin_FXid_DoFunk", 1);
    ImageSpec dot;
    dot.width = dot.height = 1;
    h.dot.reset(new Image(dot));
    h.dotOut.reset(new Image(dot));
    h.baseBlocks = h.session->host()->memory().liveBlocks();
    h.baseBytes = h.session->host()->memory().liveBytes();
}

void checkEmpty(Harness& h, const char* when) {
    if (h.session->host()->memory().liveBlocks() != 0)
        fail(std::to_string(h.session->host()->memory().liveBlocks()) + " blocks left in the host's memory service " +
             when);
}

void runModuleInput(const uint8_t* data, size_t size) {
    Harness& h = harness();
    const Reader in(data, size);
    long objectsBefore = liveObjects();
    faults().reset();

    // The fault, armed before the instances are made so that making them can fail too.
    Expected expected;
    const uint8_t faultKind = in.at(kFault);
    if (faultKind >= kFirstCallFault) {
        expected.injected = kInjectedStatuses[in.at(kFaultMore) % 5];
        faults().failStatus = expected.injected;
        faults().failCallAt = 1 + in.u16(kFaultAt) % 4000;
    } else if (faultKind >= kFirstAllocationFault) {
        expected.allocationFault = true;
        faults().failAllocationAt = 1 + in.u16(kFaultAt) % 64;
        faults().failAllAllocationsAfter = in.at(kFaultMore) & 1;
    }

    const bool cold = isCold(in.at(kFlags), in.at(kCostly));
    expected.deepFunk = deepFunk(in.at(kCostly));
    expected.heavy = heavy(in.at(kCostly));
    if (cold) {
        h.anchor.reset();
        checkEmpty(h, "after the last instance");
        h.session.reset();
        // Without a registration: what must be live again once this one is gone.
        objectsBefore = liveObjects();
        const ACFRESULT opened = openSession(h);
        if (opened != ACF_OK) {
            if (opened != ACF_E_OUTOFMEMORY && (expected.injected == ACF_OK || opened != expected.injected))
                fail("registration gave " + std::to_string(opened));
            faults().reset();
            h.session.reset();
            if (liveObjects() != objectsBefore) fail("host objects of a failed registration not released");
            if (openSession(h) != ACF_OK) fail("the module did not register again");
            warmUp(h);
            return;
        }
        expected.lostParameter = h.session->effect()->parameters.size() != h.settings.size();
    }

    // Now and then every block goes back to the system at once, so that the sanitizers see
    // the large ones come and go too.
    const bool unpooled = in.at(kFlags) & kUnpooled;
    if (unpooled) h.session->host()->memory().keepFreedBlocks(0);

    const std::vector<Setting>& settings = h.settings;
    std::vector<Subject> subjects(in.at(kFlags) & 1 ? 2 : 1);
    for (size_t i = 0; i < subjects.size(); ++i) {
        Subject& s = subjects[i];
        s.record = in.record(kHeaderSize + i * layout().instanceSize(), layout().instanceSize());
        makeImages(s, shapeOf(s.record), s.record);
        scaleOf(s.record, s.scale);
        makeInstance(*h.session, s, expected, settings);
    }

    const int operations = 1 + in.at(kOperations) % kMostOperations;
    const size_t first = layout().moduleOperations();
    for (int op = 0; op < operations && first + op * kOperationSize < size; ++op) {
        const Reader o = in.record(first + op * kOperationSize, kOperationSize);
        Subject& s = subjects[o.at(kOpSubject) % subjects.size()];
        const ModuleOp kind = moduleOp(o.at(kOpKind));
        if (kind == kRemake) {
            s.effect.reset();
            makeInstance(*h.session, s, expected, settings);
            continue;
        }
        if (s.effect->status() != ACF_OK) continue;
        switch (kind) {
        case kSetParameter: {
            const Setting& p = settings[o.at(kOpA) % settings.size()];
            applySetting(*s.effect, p, o.at(kOpB), o, kOpPayload, expected.heavy);
            break;
        }
        case kKeyParameter: keyParameter(s, o, settings, expected.heavy); break;
        case kReshape: {
            // A frame of another size or layout from here on, as an editor's timeline changes.
            const Reader shape = in.record(first + op * kOperationSize + kOpA, kOperationSize - kOpA);
            makeImages(s, shapeOf(shape), s.record);
            break;
        }
        case kBadRender: badRender(s, o, expected); break;
        default: render(s, o, expected); break;
        }
    }

    subjects.clear();
    faults().reset();
    if (unpooled) h.session->host()->memory().keepFreedBlocks(kPooledBlocks);
    if (!cold && liveObjects() != objectsBefore) fail("host objects not released");
    if (h.session->host()->memory().largestRequest() > h.largestFairRequest)
        fail("asked the host for " + std::to_string(h.session->host()->memory().largestRequest()) + " bytes at once");
    // A funk raster left at 16 bits: one pixel of funk on the anchor's 8-bit frame builds it
    // again at 8 bits, far cheaper than the anchor made afresh.
    if (!cold && h.session->host()->memory().liveBlocks() == h.baseBlocks &&
        h.session->host()->memory().liveBytes() != h.baseBytes &&
        h.anchor->render(*h.dot.get(), *h.dotOut.get(), RenderCall{}) != ACF_OK)
        fail("the anchor did not render");
    // The shared state as the next input expects it, rebuilt if this one changed it; with the
    // anchor gone the host's memory service must hold nothing.
    if (cold || h.session->host()->memory().liveBlocks() != h.baseBlocks ||
        h.session->host()->memory().liveBytes() != h.baseBytes) {
        h.anchor.reset();
        checkEmpty(h, "after the last instance");
        if (cold) {
            h.session.reset();
            if (liveObjects() != objectsBefore) fail("host objects not released");
            if (openSession(h) != ACF_OK) fail("the module did not register again");
        }
        warmUp(h);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Harness& h = harness();
    std::string error;
    h.module = PluginModule::load(TARNIX_MODULE_PATH, &error);
    if (!h.module) fail(error);
    if (openSession(h) != ACF_OK) fail("the module did not open");
    readSettings(h);
    uint64_t block = 0;
    {
        EffectInstance effect(*h.session);
        block = uint64_t(h.session->host()->memory().liveBytes());
    }
    const uint64_t largestFrame = uint64_t(kLongestSide) * 3 * 8 + uint64_t(kMediumSide) * (kMediumSide * 8 + 48);
    // Beside those, the shared funk raster (2048 x 2048) and a splotch at the largest scale the
    // harness gives (2400 x 2400), 8 bytes a pixel.
    const uint64_t funk = uint64_t(2048) * 2048 * 8, splotch = uint64_t(2400) * 2400 * 8;
    h.largestFairRequest = std::max({block, 4 * largestFrame + (uint64_t(1) << 20), funk, splotch});
    if (const char* folder = std::getenv("TARNIX_FUZZ_SEEDS")) {
        seeds::write(folder, [&](const char* id) {
            for (size_t i = 0; i < h.settings.size(); ++i)
                if (h.settings[i].id == HostSession::parameterUID(id)) return int(i);
            return -1;
        });
        std::exit(0);
    }
    warmUp(h);
    // The filter opens the same module file, so both hosts share one loaded copy of it.
    frei0rTarget::load(TARNIX_FREI0R_PATH, TARNIX_MODULE_PATH);
    return 0;
}

// The stages' random generator is one per thread and carries from frame to frame, reseeded
// only by some stages: every input starts it from the same state, so that it replays alone
// exactly as it ran. The funk reseeds it from the frame number and then draws; one pixel of it
// is far cheaper than a fresh thread per input (its stacks mapped and unmapped under the
// sanitizers).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool timed = std::getenv("TARNIX_FUZZ_TIMES") != nullptr;
    rusage before{};
    if (timed) getrusage(RUSAGE_SELF, &before);
    Harness& h = harness();
    faults().reset();
    if (h.anchor->render(*h.dot.get(), *h.dotOut.get(), RenderCall{}) != ACF_OK) fail("the anchor did not render");
    if (size > 0 && isFrei0r(data[kTarget]))
        frei0rTarget::run(data, size);
    else
        runModuleInput(data, size);
    if (timed) {
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        const auto us = [](const timeval& t) { return double(t.tv_sec) * 1e6 + double(t.tv_usec); };
        std::fprintf(stderr, "cpu %.2f ms\n",
                     (us(after.ru_utime) + us(after.ru_stime) - us(before.ru_utime) - us(before.ru_stime)) / 1000);
    }
    return 0;
}
