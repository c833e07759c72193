#include "refhost/Definitions.h"

#include <algorithm>

#include "refhost/RefHost.h"

namespace refhost {

namespace {
std::u16string text16(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

template <class T>
void releaseAll(std::vector<T*>& objects) {
    for (T* o : objects) o->Release();
    objects.clear();
}
}  // namespace

std::string toUtf8(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

template <class Interface>
ACFRESULT DefinitionBase<Interface>::SetAttribute(const acfUID& key, const acfUID& type, const void* data,
                                                  uint32_t size) {
    if (ACFRESULT r = hostCallHook()) return r;
    if (!data && size) return ACF_E_POINTER;
    Attribute a{type, std::vector<uint8_t>(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size)};
    for (auto& [k, existing] : mAttributes)
        if (k == key) {
            existing = std::move(a);
            return ACF_OK;
        }
    mAttributes.emplace_back(key, std::move(a));
    return ACF_OK;
}

template <class Interface>
ACFRESULT DefinitionBase<Interface>::GetAttribute(const acfUID& key, acfUID* type, void* data, uint32_t size,
                                                  uint32_t* actual) {
    if (ACFRESULT r = hostCallHook()) return r;
    const Attribute* a = attribute(key);
    if (!a) return ACF_E_INVALIDARG;
    if (type) *type = a->type;
    if (actual) *actual = uint32_t(a->bytes.size());
    if (data) std::memcpy(data, a->bytes.data(), std::min<size_t>(size, a->bytes.size()));
    return ACF_OK;
}

ACFRESULT PluginDefinition::InitializePlugin(const acfUID& pluginId_, uint32_t major_, uint32_t minor_,
                                             const char16_t* fileName_, const acfUID& secondId_,
                                             const char16_t* vendorName_, uint32_t number1_, uint32_t number2_) {
    if (ACFRESULT r = hostCallHook()) return r;
    initialized = true;
    pluginId = pluginId_;
    major = major_;
    minor = minor_;
    fileName = text16(fileName_);
    secondId = secondId_;
    vendorName = text16(vendorName_);
    number1 = number1_;
    number2 = number2_;
    return ACF_OK;
}

template <class Interface>
ACFRESULT ComponentDefinitionBase<Interface>::InitializeComponent(const acfUID& componentId_,
                                                                  const acfUID& componentType_, uint32_t major_,
                                                                  uint32_t minor_, const acfUID& implementationClass_,
                                                                  const char16_t* name_) {
    if (ACFRESULT r = hostCallHook()) return r;
    initialized = true;
    componentId = componentId_;
    componentType = componentType_;
    major = major_;
    minor = minor_;
    implementationClass = implementationClass_;
    name = text16(name_);
    return ACF_OK;
}

EffectDefinition::~EffectDefinition() {
    releaseAll(parameters);
    releaseAll(layout);
}

ACFRESULT EffectDefinition::AddParameter(IACFDefinition* parameter) {
    if (ACFRESULT r = hostCallHook()) return r;
    auto* p = dynamic_cast<ParameterDefinition*>(parameter);
    if (!p || !p->initialized) return ACF_E_INVALIDARG;
    p->AddRef();
    parameters.push_back(p);
    return ACF_OK;
}

ACFRESULT EffectDefinition::AddImageInput(const char16_t* nameOrNull) {
    if (ACFRESULT r = hostCallHook()) return r;
    imageInputs.push_back(nameOrNull ? std::optional<std::u16string>(nameOrNull) : std::nullopt);
    return ACF_OK;
}

ACFRESULT EffectDefinition::AddImageOutput(const char16_t* name_) {
    if (ACFRESULT r = hostCallHook()) return r;
    imageOutputs.push_back(text16(name_));
    return ACF_OK;
}

ACFRESULT EffectDefinition::AddCapability(int32_t what, int32_t value) {
    if (ACFRESULT r = hostCallHook()) return r;
    capabilities.emplace_back(what, value);
    return ACF_OK;
}

ACFRESULT EffectDefinition::AddLayoutNode(IAVXLayoutNode* node) {
    if (ACFRESULT r = hostCallHook()) return r;
    auto* n = dynamic_cast<LayoutNode*>(node);
    if (!n || !n->initialized) return ACF_E_INVALIDARG;
    n->AddRef();
    layout.push_back(n);
    return ACF_OK;
}

const ParameterDefinition* EffectDefinition::parameter(const acfUID& id) const {
    for (const ParameterDefinition* p : parameters)
        if (p->id == id) return p;
    return nullptr;
}

ACFRESULT ParameterDefinition::InitializeParameter(const acfUID& parameterId, const acfUID& dataType_,
                                                   const char16_t* label_, const char16_t* secondString_,
                                                   bool perDefinitionOption_, int32_t optionNumber_) {
    if (ACFRESULT r = hostCallHook()) return r;
    if (!label_) return ACF_E_POINTER;
    initialized = true;
    id = parameterId;
    dataType = dataType_;
    label = label_;
    secondString = text16(secondString_);
    perDefinitionOption = perDefinitionOption_;
    optionNumber = optionNumber_;
    return ACF_OK;
}

CompositeDefinition::~CompositeDefinition() { releaseAll(members); }

ACFRESULT CompositeDefinition::InitializeComposite(const acfUID& parameterId, const acfUID& dataType_,
                                                   const char16_t* label_, const char16_t* secondString_,
                                                   IACFParameterDefinition* const* members_, uint32_t memberCount) {
    if (ACFRESULT r = hostCallHook()) return r;
    if (memberCount && !members_) return ACF_E_POINTER;
    std::vector<ParameterDefinition*> collected;
    for (uint32_t i = 0; i < memberCount; ++i) {
        auto* p = dynamic_cast<ParameterDefinition*>(members_[i]);
        if (!p) return ACF_E_INVALIDARG;
        collected.push_back(p);
    }
    releaseAll(members);
    for (ParameterDefinition* p : collected) p->AddRef();
    members = std::move(collected);
    id = parameterId;
    dataType = dataType_;
    label = text16(label_);
    secondString = text16(secondString_);
    return ACF_OK;
}

LayoutNode::~LayoutNode() {
    if (definition) definition->Release();
    releaseAll(children);
}

ACFRESULT LayoutNode::InitializeNode(const acfUID& nodeId, const char16_t* name_, const char16_t* label_,
                                     const acfUID& controlKind_, IACFDefinition* definition_) {
    if (ACFRESULT r = hostCallHook()) return r;
    initialized = true;
    id = nodeId;
    name = text16(name_);
    label = text16(label_);
    controlKind = controlKind_;
    if (definition_) definition_->AddRef();
    if (definition) definition->Release();
    definition = definition_;
    return ACF_OK;
}

ACFRESULT LayoutNode::AddChild(IAVXLayoutNode* child) {
    if (ACFRESULT r = hostCallHook()) return r;
    auto* n = dynamic_cast<LayoutNode*>(child);
    if (!n || !n->initialized || n == this) return ACF_E_INVALIDARG;
    n->AddRef();
    children.push_back(n);
    return ACF_OK;
}

ACFRESULT DefinitionFactory::CreateDefinition(const acfUID& classId, const acfUID& iid, void** out) {
    if (!out) return ACF_E_POINTER;
    *out = nullptr;
    if (ACFRESULT r = hostCallHook()) return r;
    AcfPtr<IACFUnknown> made;
    if (classId == CLSID_PluginDefinition)
        made.reset(new PluginDefinition);
    else if (classId == CLSID_ComponentDefinition)
        made.reset(new ComponentDefinition);
    else if (classId == CLSID_EffectDefinition)
        made.reset(new EffectDefinition);
    else if (classId == CLSID_ParameterDefinition)
        made.reset(new ParameterDefinition);
    else if (classId == CLSID_CompositeDefinition)
        made.reset(new CompositeDefinition);
    else if (classId == CLSID_LayoutNode)
        made.reset(new LayoutNode);
    else
        return ACF_E_INVALIDARG;
    return made->QueryInterface(iid, out);
}

}  // namespace refhost
