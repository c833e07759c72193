// Capturing the render settings from parameter values held by the reference host.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "TestSupport.h"
#include "params/RenderSettings.h"
#include "refhost/Faults.h"
#include "sdk/sdk_ids.h"

using namespace refhost;
using namespace testing_support;

namespace {

const acfUID& typeOf(SettingKind kind) {
    return kind == SettingKind::Checkbox ? TYPE_Boolean : kind == SettingKind::Integer ? TYPE_Int32 : TYPE_Double;
}

// A distinct value per field that survives the trip through single precision unchanged
// only when it is representable, so the rounding shows.
double valueFor(const SettingField& f) {
    switch (f.kind) {
    case SettingKind::Checkbox: return f.slot % 3 == 0 ? 1 : 0;
    case SettingKind::Integer: return -50 + f.slot * 7;
    case SettingKind::Float: return f.slot * 1.1 + 0.01;
    }
    return 0;
}

// The effect's parameters at their defaults, read through the services of a 4 x 4 frame.
class RenderSettingsTest : public ::testing::Test {
protected:
    RegisteredEffect reg;
    std::shared_ptr<ParameterValues> values = reg.defaults();
    FrameSetup frame{reg.host.get(), ImageSpec{4, 4}, values};
};

}  // namespace

TEST_F(RenderSettingsTest, CaptureFillsEveryFieldFromTheHost) {
    for (const SettingField& f : kSettingFields) values->set(*slotIdentifier(f.slot), typeOf(f.kind), valueFor(f));
    // Specific cases: the grain red default; signed contrast; the colour channels.
    values->set(*slotIdentifier(45), TYPE_Double, 28.22);
    values->set(*slotIdentifier(76), TYPE_Int32, -100);
    values->set(*slotIdentifier(58), TYPE_Double, 82);
    values->set(*slotIdentifier(59), TYPE_Double, 255);

    RenderSettings s;
    std::memset(static_cast<void*>(&s), 0xCD, sizeof s);  // nothing may be left from before
    EXPECT_TRUE(captureSettings(*frame.services, s));

    const char* record = reinterpret_cast<const char*>(&s);
    for (const SettingField& f : kSettingFields) {
        SCOPED_TRACE(f.name);
        // The host's value as it stores it (an int32 for checkboxes and integers), and the record's.
        union {
            double real;
            int32_t whole;
        } held{}, stored{};
        values->read(*slotIdentifier(f.slot), 1.0, typeOf(f.kind), &held, f.kind == SettingKind::Float ? 8 : 4);
        std::memcpy(&stored, record + f.offset, f.kind == SettingKind::Checkbox ? 1 : f.kind == SettingKind::Integer ? 4 : 8);
        if (f.kind == SettingKind::Checkbox)
            EXPECT_EQ(stored.whole & 0xFF, held.whole == 1 ? 1 : 0);
        else if (f.kind == SettingKind::Integer)
            EXPECT_EQ(stored.whole, held.whole);
        else
            EXPECT_EQ(stored.real, f.slot >= 58 && f.slot <= 60 ? double(float(held.real)) / 255.0 : double(float(held.real)));
    }
    EXPECT_EQ(s.grainRed, 28.2199993133544921875);
    EXPECT_EQ(s.contrastAmount, -100);
    EXPECT_EQ(s.deepScratchColorG, 1.0);
    EXPECT_NEAR(s.deepScratchColorR, 0.3216, 1e-4);
}

// A checkbox is on only when the host's 32-bit boolean holds exactly 1: not for any other
// value, be it negative, above 1, odd, or 1 in its low byte only; the record's byte is 0 or 1.
TEST_F(RenderSettingsTest, CheckboxesAreOnOnlyForOne) {
    for (int32_t raw : {1, 0, -1, 2, 3, 257, INT32_MIN, INT32_MIN + 1, INT32_MAX}) {
        SCOPED_TRACE(raw);
        for (const SettingField& f : kSettingFields)
            if (f.kind == SettingKind::Checkbox) values->set(*slotIdentifier(f.slot), TYPE_Boolean, raw);
        RenderSettings s;
        std::memset(static_cast<void*>(&s), 0xCD, sizeof s);
        captureSettings(*frame.services, s);
        for (const SettingField& f : kSettingFields) {
            if (f.kind == SettingKind::Checkbox) {
                EXPECT_EQ(reinterpret_cast<const uint8_t*>(&s)[f.offset], raw == 1 ? 1 : 0) << f.name;
            }
        }
    }
}

TEST_F(RenderSettingsTest, KeyedValuesAreReadAtTheContextTime) {
    values->setKeys(*slotIdentifier(2), TYPE_Int32, {{10.0, 0.0}, {20.0, 200.0}});
    values->setKeys(*slotIdentifier(34), TYPE_Double, {{10.0, 1.0}, {20.0, 3.0}});
    values->setKeys(*slotIdentifier(0), TYPE_Boolean, {{10.0, 0.0}, {15.0, 1.0}});

    const struct {
        double time;
        int32_t fade;
        double displacement;
        bool fading;
    } cases[] = {{0.0, 0, 1.0, false}, {12.5, 50, 1.5, false}, {15.0, 100, 2.0, true}, {99.0, 200, 3.0, true}};
    for (const auto& c : cases) {
        frame.services->definitionContext().time = c.time;
        RenderSettings s;
        captureSettings(*frame.services, s);
        EXPECT_EQ(s.fadeAmount, c.fade) << c.time;
        EXPECT_EQ(s.displacementAmount, c.displacement) << c.time;
        EXPECT_EQ(s.doFading, c.fading) << c.time;
    }
}

TEST_F(RenderSettingsTest, ReadersWithoutSourceOrIdentifierWriteNothing) {
    ParamDefContext& context = frame.services->definitionContext();

    bool flag = true;
    int32_t number = 1234;
    float real = 5.5f;
    EXPECT_EQ(readCheckbox(context, nullptr, 1.0, &flag), ACF_E_FAIL);
    EXPECT_EQ(readInteger(context, nullptr, 1.0, &number), ACF_E_FAIL);
    context.valueSource = nullptr;
    EXPECT_EQ(readFloat(context, slotIdentifier(6), 1.0, &real), ACF_E_FAIL);
    EXPECT_EQ(readCheckbox(context, slotIdentifier(0), 1.0, &flag), ACF_E_FAIL);
    EXPECT_TRUE(flag);
    EXPECT_EQ(number, 1234);
    EXPECT_EQ(real, 5.5f);

    // With no source at all the capture still succeeds and leaves a zeroed record zeroed.
    RenderSettings s;
    EXPECT_TRUE(captureSettings(*frame.services, s));
    EXPECT_FALSE(s.doColorNoise);
    EXPECT_EQ(s.fadeAmount, 0);
    EXPECT_EQ(s.grainRed, 0.0);
}

TEST_F(RenderSettingsTest, AFailedHostReadEndsTheCaptureWithItsStatus) {
    const long objectsBefore = liveObjects();
    for (int64_t at : {1, 2, 57, 104}) {
        faults().reset();
        faults().failCallAt = at;
        faults().failStatus = int32_t(0x80001234u);
        RenderSettings s;
        int32_t raised = 0;
        try {
            captureSettings(*frame.services, s);
        } catch (int32_t status) {
            raised = status;
        }
        EXPECT_EQ(raised, int32_t(0x80001234u)) << at;
        EXPECT_EQ(liveObjects(), objectsBefore) << "value interfaces are released on the way out";
    }
    faults().reset();
    RenderSettings s;
    captureSettings(*frame.services, s);
    EXPECT_EQ(faults().calls.load(), 104) << "two host calls per field";
}
