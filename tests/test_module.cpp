// The built module, loaded and driven through its six entry points only: registration, the
// panel, class factories and rendering, with every reference given back. The render entry's
// error paths are tested in-process (test_render_entry) and against a hostile host (test_hostile).
#include <cmath>
#include <cstring>
#include <string>

#include "ModuleSupport.h"
#include "sdk/sdk_ids.h"

using namespace refhost;
using namespace module_support;

namespace {

constexpr acfUID kPluginId = {0x49D9089D, 0x7281, 0x4051, {0x93, 0x91, 0x3D, 0x6C, 0xDA, 0x11, 0xB7, 0x8B}};
constexpr acfUID kSecondId = {0xC6F64F8F, 0xC570, 0x4B39, {0x80, 0xD5, 0x7A, 0xA7, 0xBF, 0xC6, 0xD7, 0xAA}};
constexpr acfUID kEffectId = {0xA1B47F66, 0x82DF, 0x4399, {0x8A, 0x5E, 0xB7, 0x7E, 0x6A, 0x9F, 0x00, 0x36}};
constexpr acfUID kEffectClass = {0xE0F527F5, 0xA744, 0x4723, {0xA5, 0xE0, 0xCB, 0x00, 0x2D, 0x5D, 0x61, 0x38}};
constexpr acfUID kUpdateId = {0x272DC501, 0x6DFD, 0x4AEB, {0xB4, 0xA2, 0xAC, 0x00, 0xF1, 0xA3, 0x81, 0xE1}};
constexpr acfUID kUpdateClass = {0x26BD094E, 0x76BB, 0x4F30, {0x88, 0x76, 0xA2, 0x8B, 0xEC, 0x13, 0x31, 0x97}};

// The panel as the editor shows it: C checkbox, S slider, G group with its contents.
const char* const kPanel =
    "C:Apply Fading G:Fade[S:Amount] "
    "C:Apply Funk G:Funk[S:Opacity] "
    "C:Apply Splotches G:Splotches[S:Number S:Scale S:Transparency S:Frequency] "
    "C:Apply Dust G:Dust[S:Black Dust Amount S:White Dust Amount S:Opacity S:Frequency] "
    "C:Apply Flicker G:Flicker[S:Frequency S:Amount] "
    "C:Apply Vignette G:Vignette[S:Size S:Intensity] "
    "C:Apply Displacement G:Displacement[S:Amount] "
    "C:Apply Microscratches G:Microscratches[S:Number S:Opacity] "
    "C:Apply Grain G:Grain[C:Color Noise S:Amount S:Red S:Green S:Blue S:Softness Red S:Softness Green "
    "S:Softness Blue S:Suppress Black S:Suppress White] "
    "C:Apply DeepScratch G:Deep Scratches[S:Number S:Duration G:Color[S:Red S:Green S:Blue]] "
    "C:Apply BasicScratch G:Basic Scratches[S:Number S:Duration C:Invert] "
    "C:Apply Gateweave G:Gateweave[S:Weave Frequency S:Amplitude S:Noise Frequency] "
    "C:Apply PostContrast G:Post Contrast[S:Amount]";

std::string describe(const LayoutNode& node) {
    std::string kind = node.controlKind == KIND_Checkbox ? "C" : node.controlKind == KIND_Slider ? "S"
                     : node.controlKind == KIND_Group    ? "G"
                                                         : "?";
    std::string text = kind + ":" + toUtf8(node.label);
    if (node.controlKind == KIND_Group) {
        text += "[";
        for (size_t i = 0; i < node.children.size(); ++i) {
            if (i) text += ' ';
            text += describe(*node.children[i]);
        }
        text += "]";
    }
    return text;
}

std::string text16(const Attribute* a) {
    if (!a) return "<none>";
    std::u16string s(reinterpret_cast<const char16_t*>(a->bytes.data()), a->bytes.size() / 2);
    while (!s.empty() && s.back() == 0) s.pop_back();
    return toUtf8(s);
}

using Module = LoadedModule;

}  // namespace

TEST_F(Module, RegistersThePluginAndBothComponents) {
    const PluginDefinition& p = *session->plugin();
    EXPECT_EQ(p.pluginId, kPluginId);
    EXPECT_EQ(p.secondId, kSecondId);
    EXPECT_EQ(p.major, 1u);
    EXPECT_EQ(p.minor, 0u);
    EXPECT_EQ(p.fileName, u"TarnixAVX2.avx");
    EXPECT_EQ(p.vendorName, u"Vorlane");
    EXPECT_EQ(p.number1, 2u);
    EXPECT_EQ(p.number2, 1u);
    EXPECT_EQ(text16(p.attribute(PROP_DisplayName)), "Tarnix");

    const EffectDefinition& e = *session->effect();
    EXPECT_EQ(e.componentId, kEffectId);
    EXPECT_EQ(e.componentType, COMPTYPE_AVXEffect);
    EXPECT_EQ(e.implementationClass, kEffectClass);
    EXPECT_EQ(e.name, u"Tarnix AVX2");
    EXPECT_EQ(text16(e.attribute(PROP_DisplayName)), "Vorlane Tarnix");
    EXPECT_EQ(e.parameters.size(), 52u);
    ASSERT_EQ(e.imageInputs.size(), 1u);
    EXPECT_FALSE(e.imageInputs[0].has_value()) << "the input is declared without a name";
    EXPECT_EQ(e.imageOutputs, std::vector<std::u16string>{u"Output"});
    EXPECT_EQ(e.capabilities, (std::vector<std::pair<int32_t, int32_t>>{{3, 1}, {3, 3}, {4, 1}, {4, 3}}));
    EXPECT_EQ(e.attribute(ATTR_EffectOption1)->as<int32_t>(), 1);
    EXPECT_EQ(e.attribute(ATTR_EffectOption2)->as<int32_t>(), 0);
    EXPECT_EQ(e.attribute(ATTR_EffectOption3)->as<int32_t>(), 0);
    EXPECT_EQ(e.attribute(PROP_UpdateComponent)->as<acfUID>(), kUpdateId);

    const ComponentDefinition& u = *session->updater();
    EXPECT_EQ(u.componentId, kUpdateId);
    EXPECT_EQ(u.componentType, COMPTYPE_AVXUpdateParams);
    EXPECT_EQ(u.implementationClass, kUpdateClass);
    EXPECT_EQ(u.name, u"Tarnix Update");

    // Index 1 creates one definition and no parameters; index 2 does not exist.
    const long before = liveObjects();
    IACFComponentDefinition* again = nullptr;
    ASSERT_EQ(module->registerComponent(session->host(), 1, &again), ACF_OK);
    EXPECT_EQ(liveObjects(), before + 1);
    again->Release();
    IACFComponentDefinition* none = reinterpret_cast<IACFComponentDefinition*>(0x1);
    EXPECT_EQ(module->registerComponent(session->host(), 2, &none), int32_t(0x80000003u));
    EXPECT_EQ(module->registerComponent(nullptr, 0, &again), int32_t(0x80000005u));
    EXPECT_EQ(module->registerPlugin(nullptr, nullptr), int32_t(0x80000005u));
}

TEST_F(Module, PanelLayoutFollowsTheParameterOrder) {
    std::string panel;
    for (const LayoutNode* node : session->effect()->layout) {
        if (!panel.empty()) panel += ' ';
        panel += describe(*node);
    }
    EXPECT_EQ(panel, kPanel);

    // Controls show their parameter and carry the derived layout identifiers.
    const LayoutNode& fading = *session->effect()->layout[0];
    EXPECT_EQ(fading.id, nameUID(kPluginId, "com.vorlane.Plugin_FXid_DoFading_layout"));
    ASSERT_NE(fading.definition, nullptr);
    EXPECT_EQ(static_cast<ParameterDefinition*>(fading.definition)->id,
              HostSession::parameterUID("Plugin_FXid_DoFading"));
    const LayoutNode& deep = *session->effect()->layout[19];
    EXPECT_EQ(deep.id, nameUID(kPluginId, "com.vorlane.Plugin_FXid_DeepScratchGroupStart_layout"));
    ASSERT_EQ(deep.children.size(), 3u);
    const LayoutNode& colour = *deep.children[2];
    EXPECT_EQ(colour.id, nameUID(kPluginId, "com.vorlane.Plugin_ . FXid_DeepScratchColor_layout"));
    EXPECT_EQ(colour.children[0]->id, nameUID(kPluginId, "com.vorlane.Plugin_ . FXid_DeepScratchColor_layoutR"));
    auto* composite = dynamic_cast<CompositeDefinition*>(colour.definition);
    ASSERT_NE(composite, nullptr);
    EXPECT_EQ(composite->id, nameUID(kPluginId, "com.vorlane.Plugin_ . FXid_DeepScratchColor_RGBprop"));
    ASSERT_EQ(composite->members.size(), 3u);
    EXPECT_EQ(composite->members[2]->id, HostSession::parameterUID("Plugin_FXid_DeepScratchColor_B"));
    double high[3];
    std::memcpy(high, composite->attribute(PROP_Maximum)->bytes.data(), 24);
    EXPECT_EQ(high[1], 255.0);
    for (const LayoutNode* node : session->effect()->layout)
        if (node->controlKind == KIND_Group) {
            EXPECT_EQ(node->attribute(PROP_GroupOption)->as<int32_t>(), 1);
        }
}

TEST_F(Module, ClassFactoriesAndTheirErrors) {
    void* out = reinterpret_cast<void*>(0x1);
    const acfUID unknown = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(module->getClassFactory(session->host(), &unknown, &IID_IACFClassFactory, &out), int32_t(0x80040111u));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(module->getClassFactory(nullptr, &kEffectClass, &IID_IACFClassFactory, &out), int32_t(0x80000003u));

    IACFClassFactory* factory = session->effectFactory();
    EXPECT_EQ(factory->CreateInstance(nullptr, nullptr, IID_IAVXEffect, &out), int32_t(0x80000003u));
    AcfPtr<OpaqueObject> outer(new OpaqueObject);
    EXPECT_EQ(factory->CreateInstance(session->host(), outer.get(), IID_IAVXEffect, &out), int32_t(0x80040110u));

    // While a component lives the module must stay loaded.
    AcfPtr<IAVXUpdateParams> updater;
    ASSERT_EQ(session->updaterFactory()->CreateInstance(session->host(), nullptr, IID_IAVXUpdateParams,
                                                        updater.outVoid()),
              ACF_OK);
    EXPECT_EQ(module->canUnloadNow(session->host()), int32_t(0x80000008u));
    EXPECT_EQ(updater->UpdateParameters(outer.get(), outer.get(), outer.get(), nullptr), int32_t(0x80000005u));
    EXPECT_EQ(updater->UpdateParameters(outer.get(), outer.get(), outer.get(), outer.get()), ACF_OK);
    AcfPtr<IAVXEffect> wrongFace;
    EXPECT_LT(updater->QueryInterface(IID_IAVXEffect, wrongFace.outVoid()), 0);
}

TEST_F(Module, RendersEveryPixelLayout) {
    for (PixelLayout layout : {PixelLayout::ARGB8, PixelLayout::BGRA8, PixelLayout::ARGB16, PixelLayout::BGRA16}) {
        SCOPED_TRACE(int(layout));
        EffectInstance effect(*session);
        ASSERT_EQ(effect.status(), ACF_OK);
        AcfPtr<Image> input(new Image(imageSpec(layout, 31, 17)));
        AcfPtr<Image> output(new Image(imageSpec(layout, 31, 17, 40)));
        input->fillRandom(5);
        EXPECT_EQ(effect.render(*input.get(), *output.get(), RenderCall{3, 3.0}), ACF_OK);
        EXPECT_TRUE(output->samePixels(*input.get())) << "every stage is off by default";

        effect.set("Plugin_FXid_DoContrast", 1);
        EXPECT_EQ(effect.render(*input.get(), *output.get(), RenderCall{4, 4.0}), ACF_OK);
        EXPECT_FALSE(output->samePixels(*input.get()));
    }
}

TEST_F(Module, ParametersAreReadAtTheRenderTime) {
    EffectInstance effect(*session);
    AcfPtr<Image> input(new Image(imageSpec(PixelLayout::BGRA8, 8, 8)));
    AcfPtr<Image> output(new Image(imageSpec(PixelLayout::BGRA8, 8, 8)));
    input->fill(255, 200, 100, 50);
    effect.set("Plugin_FXid_DoContrast", 1);
    // Contrast -100 flattens to 127, 0 keeps 200 -> 199; keyed between times 10 and 20.
    effect.setKeys("Plugin_FXid_ContrastAmount", {{10.0, -100.0}, {20.0, 0.0}});
    effect.render(*input.get(), *output.get(), RenderCall{20, 10.0});
    EXPECT_EQ(output->channel(0, 0, 1), 127u) << "time 10 rules, not frame 20";
    effect.render(*input.get(), *output.get(), RenderCall{10, 20.0});
    EXPECT_EQ(output->channel(0, 0, 1), 199u);
    // A time that is not a number takes the first key, and reads no key past the last.
    effect.render(*input.get(), *output.get(), RenderCall{10, std::nan("")});
    EXPECT_EQ(output->channel(0, 0, 1), 127u);
}
