// The parameter list as the host receives it, checked against the table of the effect's
// parameters written out here independently of the code that declares them.
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "refhost/Faults.h"
#include "sdk/sdk_ids.h"

using namespace refhost;
using testing_support::RegisteredEffect;

namespace {

enum Kind { CB, GS, GE, INT, DBL, CH };

struct Row {
    int index;
    const char* id;  // null for group ends
    const char* label;
    Kind kind;
    double def, lo, hi, fourth;
};

const Row kTable[] = {
    {0, "Plugin_FXid_DoFading", "Apply Fading", CB, 0, 0, 0, 0},
    {1, "Plugin_FXid_FadeGroupStart", "Fade", GS, 0, 0, 0, 0},
    {2, "Plugin_FXid_FadeAmount", "Amount", INT, 100, 0, 200, 0.5},
    {3, nullptr, nullptr, GE, 0, 0, 0, 0},
    {4, "Plugin_FXid_DoFunk", "Apply Funk", CB, 0, 0, 0, 0},
    {5, "Plugin_FXid_FunkGroupStart", "Funk", GS, 0, 0, 0, 0},
    {6, "Plugin_FXid_FunkOpacity", "Opacity", DBL, 15.0, 0.0, 100.0, 1.0},
    {7, nullptr, nullptr, GE, 0, 0, 0, 0},
    {8, "Plugin_FXid_DoSplotches", "Apply Splotches", CB, 0, 0, 0, 0},
    {9, "Plugin_FXid_SplotchesGroupStart", "Splotches", GS, 0, 0, 0, 0},
    {10, "Plugin_FXid_SplotchNumber", "Number", INT, 3, 0, 100, 0.5},
    {11, "Plugin_FXid_SplotchesScale", "Scale", DBL, 0.75, 0.1, 5.0, 1.0},
    {12, "Plugin_FXid_SplotchesTransparency", "Transparency", DBL, 30.0, 0.0, 100.0, 1.0},
    {13, "Plugin_FXid_SplotchesFrequency", "Frequency", DBL, 50.0, 0.0, 100.0, 1.0},
    {14, nullptr, nullptr, GE, 0, 0, 0, 0},
    {15, "Plugin_FXid_DoDust", "Apply Dust", CB, 0, 0, 0, 0},
    {16, "Plugin_FXid_DustGroupStart", "Dust", GS, 0, 0, 0, 0},
    {17, "Plugin_FXid_BlackNumber", "Black Dust Amount", INT, 5, 0, 1000, 0.5},
    {18, "Plugin_FXid_WhiteNumber", "White Dust Amount", INT, 5, 0, 1000, 0.5},
    {19, "Plugin_FXid_DustOpacity", "Opacity", DBL, 0.45, 0.0, 1.0, 0.5},
    {20, "Plugin_FXid_DustFreq", "Frequency", DBL, 0.6, 0.0, 1.0, 0.5},
    {21, nullptr, nullptr, GE, 0, 0, 0, 0},
    {22, "Plugin_FXid_DoFlicker", "Apply Flicker", CB, 0, 0, 0, 0},
    {23, "Plugin_FXid_FlickerGroupStart", "Flicker", GS, 0, 0, 0, 0},
    {24, "Plugin_FXid_FlickerFreq", "Frequency", DBL, 0.5, 0.0, 1.0, 1.0},
    {25, "Plugin_FXid_FlickerAmount", "Amount", INT, 10, 0, 100, 1.0},
    {26, nullptr, nullptr, GE, 0, 0, 0, 0},
    {27, "Plugin_FXid_DoVignette", "Apply Vignette", CB, 0, 0, 0, 0},
    {28, "Plugin_FXid_VignetteGroupStart", "Vignette", GS, 0, 0, 0, 0},
    {29, "Plugin_FXid_VignetteSize", "Size", DBL, 40.0, 1.0, 100.0, 1.0},
    {30, "Plugin_FXid_VignetteIntensity", "Intensity", DBL, 70.0, 0.0, 100.0, 1.0},
    {31, nullptr, nullptr, GE, 0, 0, 0, 0},
    {32, "Plugin_FXid_DoDisplacement", "Apply Displacement", CB, 0, 0, 0, 0},
    {33, "Plugin_FXid_DisplacementGroupStart", "Displacement", GS, 0, 0, 0, 0},
    {34, "Plugin_FXid_DisplacementAmount", "Amount", DBL, 0.5, 0.0, 5.0, 1.0},
    {35, nullptr, nullptr, GE, 0, 0, 0, 0},
    {36, "Plugin_FXid_DoMicro", "Apply Microscratches", CB, 0, 0, 0, 0},
    {37, "Plugin_FXid_MicroscratchesGroupStart", "Microscratches", GS, 0, 0, 0, 0},
    {38, "Plugin_FXid_Number", "Number", INT, 2000, 0, 5000, 0.5},
    {39, "Plugin_FXid_Opacity", "Opacity", DBL, 0.75, 0.0, 1.0, 0.5},
    {40, nullptr, nullptr, GE, 0, 0, 0, 0},
    {41, "Plugin_FXid_DoGrain", "Apply Grain", CB, 0, 0, 0, 0},
    {42, "Plugin_FXid_GrainGroupStart", "Grain", GS, 0, 0, 0, 0},
    {43, "Plugin_FXid_DoColorNoise", "Color Noise", CB, 1, 0, 0, 0},
    {44, "Plugin_FXid_AmountGrain", "Amount", DBL, 0.75, 0.0, 1.0, 0.5},
    {45, "Plugin_FXid_Red", "Red", DBL, 28.22, 0.0, 100.0, 0.5},
    {46, "Plugin_FXid_Green", "Green", DBL, 35.54, 0.0, 100.0, 0.5},
    {47, "Plugin_FXid_Blue", "Blue", DBL, 100.0, 0.0, 100.0, 0.5},
    {48, "Plugin_FXid_SoftnessRed", "Softness Red", DBL, 0.1, 0.0, 10.0, 0.5},
    {49, "Plugin_FXid_SoftnessGreen", "Softness Green", DBL, 0.2, 0.0, 10.0, 0.5},
    {50, "Plugin_FXid_SoftnessBlue", "Softness Blue", DBL, 0.4, 0.0, 10.0, 0.5},
    {51, "Plugin_FXid_SuppressBlack", "Suppress Black", DBL, 20.0, 0.0, 100.0, 0.5},
    {52, "Plugin_FXid_SuppressWhite", "Suppress White", DBL, 10.0, 0.0, 100.0, 0.5},
    {53, nullptr, nullptr, GE, 0, 0, 0, 0},
    {54, "Plugin_FXid_DoDeepScratch", "Apply DeepScratch", CB, 0, 0, 0, 0},
    {55, "Plugin_FXid_DeepScratchGroupStart", "Deep Scratches", GS, 0, 0, 0, 0},
    {56, "Plugin_FXid_DeepScratchNumber", "Number", INT, 2, 0, 50, 0.5},
    {57, "Plugin_FXid_DeepScratchDuration", "Duration", INT, 48, 1, 240, 0.5},
    {58, "Plugin_FXid_DeepScratchColor_R", "Red", CH, 82.0, 0.0, 255.0, 0.01},
    {59, "Plugin_FXid_DeepScratchColor_G", "Green", CH, 255.0, 0.0, 255.0, 0.01},
    {60, "Plugin_FXid_DeepScratchColor_B", "Blue", CH, 18.0, 0.0, 255.0, 0.01},
    {61, nullptr, nullptr, GE, 0, 0, 0, 0},
    {62, "Plugin_FXid_DoBasicScratch", "Apply BasicScratch", CB, 0, 0, 0, 0},
    {63, "Plugin_FXid_BasicScratchGroupStart", "Basic Scratches", GS, 0, 0, 0, 0},
    {64, "Plugin_FXid_BasicScratchNumber", "Number", INT, 2, 0, 50, 0.5},
    {65, "Plugin_FXid_BasicScratchDuration", "Duration", INT, 48, 1, 240, 0.5},
    {66, "Plugin_FXid_DoInvert", "Invert", CB, 1, 0, 0, 0},
    {67, nullptr, nullptr, GE, 0, 0, 0, 0},
    {68, "Plugin_FXid_DoGateweave", "Apply Gateweave", CB, 0, 0, 0, 0},
    {69, "Plugin_FXid_GateweaveGroupStart", "Gateweave", GS, 0, 0, 0, 0},
    {70, "Plugin_FXid_Frequency", "Weave Frequency", DBL, 0.25, 0.0, 2.0, 1.0},
    {71, "Plugin_FXid_Amplitude", "Amplitude", DBL, 5.0, 0.0, 20.0, 1.0},
    {72, "Plugin_FXid_NoiseFrequency", "Noise Frequency", DBL, 5.0, 0.0, 100.0, 1.0},
    {73, nullptr, nullptr, GE, 0, 0, 0, 0},
    {74, "Plugin_FXid_DoContrast", "Apply PostContrast", CB, 0, 0, 0, 0},
    {75, "Plugin_FXid_PostContrastGroupStart", "Post Contrast", GS, 0, 0, 0, 0},
    {76, "Plugin_FXid_ContrastAmount", "Amount", INT, 27, -100, 100, 0.5},
    {77, nullptr, nullptr, GE, 0, 0, 0, 0},
};
static_assert(sizeof(kTable) / sizeof(kTable[0]) == 78);

bool valueBearing(Kind k) { return k == CB || k == INT || k == DBL || k == CH; }

acfUID expectedUID(const char* identifier) { return nameUID(kTarnixPluginId, std::string("com.vorlane.") + identifier); }

std::vector<acfUID> slotTableCopy() {
    std::vector<acfUID> table;
    for (int i = 0; i < kParameterSlotCount; ++i) table.push_back(*slotIdentifier(i));
    return table;
}

std::u16string u16(const char* s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }

double attributeDouble(const ParameterDefinition& p, const acfUID& key) {
    const Attribute* a = p.attribute(key);
    EXPECT_NE(a, nullptr);
    if (!a) return -1e300;
    EXPECT_EQ(a->bytes.size(), 8u);
    EXPECT_EQ(a->type, TYPE_Double);
    return a->as<double>();
}

}  // namespace

TEST(ParameterSet, DryAndFullRunsAgreeOnEverySlotIdentifier) {
    AcfPtr<HostComponent> host(new HostComponent);
    std::vector<acfUID> dry;
    {
        PluginHost_AVX2_Impl services(host.get());
        setupDefinitionContext(services.definitionContext(), host.get(), nullptr, nullptr, kParameterSlotCount);
        EXPECT_FALSE(slotTableReady());
        const long objectsBefore = liveObjects();
        defineParameters(services);
        setSlotTableReady(true);
        EXPECT_EQ(liveObjects(), objectsBefore) << "the dry run creates no host objects";
        EXPECT_EQ(services.definitionContext().definedCount, 52u);
        dry = slotTableCopy();
    }
    RegisteredEffect full;
    EXPECT_TRUE(slotTableReady());
    const std::vector<acfUID> fullTable = slotTableCopy();

    for (const Row& row : kTable) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(dry[size_t(row.index)], fullTable[size_t(row.index)]);
        if (valueBearing(row.kind))
            EXPECT_EQ(fullTable[size_t(row.index)], expectedUID(row.id));
        else
            EXPECT_TRUE(isNullUID(fullTable[size_t(row.index)])) << "group starts and ends keep an empty entry";
    }
    EXPECT_EQ(slotIdentifier(78), nullptr);
    EXPECT_EQ(slotIdentifier(1000), nullptr);
    EXPECT_EQ(slotIdentifier(-1), nullptr);
    // The colour takes no slot: 60 is the blue channel, 61 closes the group.
    EXPECT_EQ(*slotIdentifier(60), expectedUID("Plugin_FXid_DeepScratchColor_B"));
    EXPECT_TRUE(isNullUID(*slotIdentifier(61)));
}

TEST(ParameterSet, EveryDefinitionCarriesItsKindLabelDefaultAndRange) {
    RegisteredEffect reg;
    const auto& params = reg.effect->parameters;
    ASSERT_EQ(params.size(), 52u);
    size_t next = 0;
    for (const Row& row : kTable) {
        if (!valueBearing(row.kind)) continue;
        SCOPED_TRACE(row.id);
        const ParameterDefinition& p = *params[next++];
        EXPECT_EQ(p.id, expectedUID(row.id)) << "definitions arrive in slot order";
        EXPECT_EQ(p.label, u16(row.label));
        EXPECT_EQ(p.secondString, u"");
        EXPECT_TRUE(p.perDefinitionOption);
        EXPECT_EQ(p.optionNumber, 0);
        if (row.kind == CB) {
            EXPECT_EQ(p.dataType, TYPE_Boolean);
            const Attribute* d = p.attribute(PROP_Default);
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(d->bytes.size(), 4u);
            EXPECT_EQ(d->as<int32_t>(), int32_t(row.def));
            EXPECT_EQ(p.attribute(PROP_Minimum), nullptr);
            continue;
        }
        EXPECT_EQ(p.dataType, row.kind == INT ? TYPE_Int32 : TYPE_Double);
        EXPECT_EQ(attributeDouble(p, PROP_Default), row.def);
        EXPECT_EQ(attributeDouble(p, PROP_Minimum), row.lo);
        EXPECT_EQ(attributeDouble(p, PROP_Maximum), row.hi);
        // Channels are declared in single precision and widened.
        const double fourth = row.kind == CH ? double(float(row.fourth)) : row.fourth;
        EXPECT_EQ(attributeDouble(p, PROP_SliderPrecision), fourth);
        // The four numeric properties are set in this order.
        std::vector<acfUID> keys;
        for (const auto& [key, value] : p.attributes()) keys.push_back(key);
        EXPECT_EQ(keys, (std::vector<acfUID>{PROP_Default, PROP_Minimum, PROP_Maximum, PROP_SliderPrecision}));
    }
}

// The definition routine as the host sees it: each request for the identifier service (a
// definition begins there) and each definition joining the list, with its properties then.
struct CallPositions {
    std::vector<int64_t> serviceQueries, additions;
    std::vector<size_t> propertiesWhenAdded;
};

class NotingHost final : public IACFUnknown {
public:
    NotingHost(IACFUnknown* host, CallPositions& at) : mHost(host), mAt(at) {}
    ACFRESULT QueryInterface(const acfUID& iid, void** out) override {
        const ACFRESULT r = mHost->QueryInterface(iid, out);
        if (iid == IID_IACFUIDService) mAt.serviceQueries.push_back(faults().calls);
        return r;
    }
    uint32_t AddRef() override { return 2; }  // lives on the test's stack
    uint32_t Release() override { return 1; }

private:
    IACFUnknown* mHost;
    CallPositions& mAt;
};

class NotingList final : public IAVXEffectDefinition {
public:
    NotingList(EffectDefinition* list, CallPositions& at) : mList(list), mAt(at) {}
    ACFRESULT QueryInterface(const acfUID& iid, void** out) override { return mList->QueryInterface(iid, out); }
    uint32_t AddRef() override { return 2; }
    uint32_t Release() override { return 1; }
    ACFRESULT SetAttribute(const acfUID& key, const acfUID& type, const void* data, uint32_t size) override {
        return mList->SetAttribute(key, type, data, size);
    }
    ACFRESULT GetAttribute(const acfUID& key, acfUID* type, void* data, uint32_t size, uint32_t* actual) override {
        return mList->GetAttribute(key, type, data, size, actual);
    }
    ACFRESULT InitializeComponent(const acfUID& id, const acfUID& type, uint32_t major, uint32_t minor,
                                  const acfUID& implementation, const char16_t* name) override {
        return mList->InitializeComponent(id, type, major, minor, implementation, name);
    }
    ACFRESULT AddParameter(IACFDefinition* parameter) override {
        const ACFRESULT r = mList->AddParameter(parameter);
        mAt.additions.push_back(faults().calls);
        mAt.propertiesWhenAdded.push_back(dynamic_cast<ParameterDefinition&>(*parameter).attributes().size());
        return r;
    }
    ACFRESULT AddImageInput(const char16_t* name) override { return mList->AddImageInput(name); }
    ACFRESULT AddImageOutput(const char16_t* name) override { return mList->AddImageOutput(name); }
    ACFRESULT AddCapability(int32_t what, int32_t value) override { return mList->AddCapability(what, value); }
    ACFRESULT AddLayoutNode(IAVXLayoutNode* node) override { return mList->AddLayoutNode(node); }

private:
    EffectDefinition* mList;
    CallPositions& mAt;
};

// Each host call of the full pass fails in turn: the definition is lost exactly when the
// failure came between its identifier request and its joining the list (both included);
// every other one is there, in slot order, and nothing leaks.
TEST(ParameterSet, AFailedHostCallCostsOnlyTheDefinitionItWasMaking) {
    const long objectsBefore = liveObjects();
    CallPositions at;
    int64_t callsPerPass = 0;
    {
        AcfPtr<HostComponent> host(new HostComponent);
        AcfPtr<EffectDefinition> list(new EffectDefinition);
        NotingHost notingHost(host.get(), at);
        NotingList notingList(list.get(), at);
        faults().reset();
        PluginHost_AVX2_Impl services(&notingHost);
        setupDefinitionContext(services.definitionContext(), &notingHost, &notingList, &hostParamLayout(),
                               kParameterSlotCount);
        defineParameters(services);
        callsPerPass = faults().calls.load();
    }
    std::vector<acfUID> allIds;
    std::vector<size_t> properties;
    for (const Row& row : kTable)
        if (valueBearing(row.kind)) {
            allIds.push_back(expectedUID(row.id));
            properties.push_back(row.kind == CB ? 1u : 4u);
        }
    ASSERT_EQ(at.additions.size(), allIds.size());
    EXPECT_EQ(at.propertiesWhenAdded, properties) << "a definition joins the list with its properties set";
    std::vector<int64_t> begins;
    for (int64_t added : at.additions) {
        const auto next = std::lower_bound(at.serviceQueries.begin(), at.serviceQueries.end(), added);
        ASSERT_NE(next, at.serviceQueries.begin());
        begins.push_back(*std::prev(next));
    }

    for (int64_t failing = 1; failing <= callsPerPass; ++failing) {
        faults().reset();
        faults().failCallAt = failing;
        faults().failStatus = int32_t(0x80000999u);
        RegisteredEffect reg;
        faults().reset();
        std::vector<acfUID> expected;
        for (size_t k = 0; k < allIds.size(); ++k)
            if (failing < begins[k] || failing > at.additions[k]) expected.push_back(allIds[k]);
        std::vector<acfUID> ids;
        for (const ParameterDefinition* p : reg.effect->parameters) ids.push_back(p->id);
        ASSERT_EQ(ids, expected) << "failing call " << failing << " of " << callsPerPass;
        ASSERT_EQ(reg.host->memory().liveBlocks(), 0);
    }
    faults().reset();
    EXPECT_EQ(liveObjects(), objectsBefore);
}
