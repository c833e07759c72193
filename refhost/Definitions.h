// The definitions a plug-in creates at registration, kept for inspection: plug-in and
// component records, parameters with their attributes, composites and the layout tree.
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "refhost/RefObject.h"
#include "sdk/acf_definitions.h"

namespace refhost {

struct Attribute {
    acfUID type{};
    std::vector<uint8_t> bytes;

    template <class T>
    T as() const {
        T value{};
        std::memcpy(&value, bytes.data(), std::min(sizeof value, bytes.size()));
        return value;
    }
};

// Attribute storage shared by every definition class.
template <class Interface>
class DefinitionBase : public RefObject<Interface> {
public:
    ACFRESULT SetAttribute(const acfUID& key, const acfUID& type, const void* data, uint32_t size) override;
    ACFRESULT GetAttribute(const acfUID& key, acfUID* type, void* data, uint32_t size, uint32_t* actual) override;

    const Attribute* attribute(const acfUID& key) const {
        for (const auto& [k, a] : mAttributes)
            if (k == key) return &a;
        return nullptr;
    }
    const std::vector<std::pair<acfUID, Attribute>>& attributes() const { return mAttributes; }

private:
    std::vector<std::pair<acfUID, Attribute>> mAttributes;  // in the order first set
};

class PluginDefinition final : public DefinitionBase<IACFPluginDefinition> {
public:
    ACFRESULT InitializePlugin(const acfUID& pluginId, uint32_t major, uint32_t minor, const char16_t* fileName,
                               const acfUID& secondId, const char16_t* vendorName, uint32_t number1,
                               uint32_t number2) override;

    bool initialized = false;
    acfUID pluginId{}, secondId{};
    uint32_t major = 0, minor = 0, number1 = 0, number2 = 0;
    std::u16string fileName, vendorName;

protected:
    bool answers(const acfUID& iid) const override {
        return oneOf(iid, {&IID_IACFDefinition, &IID_IACFPluginDefinition});
    }
};

// Shared by plain component definitions and the effect definition.
template <class Interface>
class ComponentDefinitionBase : public DefinitionBase<Interface> {
public:
    ACFRESULT InitializeComponent(const acfUID& componentId, const acfUID& componentType, uint32_t major,
                                  uint32_t minor, const acfUID& implementationClass, const char16_t* name) override;

    bool initialized = false;
    acfUID componentId{}, componentType{}, implementationClass{};
    uint32_t major = 0, minor = 0;
    std::u16string name;
};

class ComponentDefinition final : public ComponentDefinitionBase<IACFComponentDefinition> {
protected:
    bool answers(const acfUID& iid) const override {
        return oneOf(iid, {&IID_IACFDefinition, &IID_IACFComponentDefinition});
    }
};

class ParameterDefinition;
class LayoutNode;

class EffectDefinition final : public ComponentDefinitionBase<IAVXEffectDefinition> {
public:
    ~EffectDefinition() override;

    ACFRESULT AddParameter(IACFDefinition* parameter) override;
    ACFRESULT AddImageInput(const char16_t* nameOrNull) override;
    ACFRESULT AddImageOutput(const char16_t* name) override;
    ACFRESULT AddCapability(int32_t what, int32_t value) override;
    ACFRESULT AddLayoutNode(IAVXLayoutNode* node) override;

    std::vector<ParameterDefinition*> parameters;  // owned references, in the order added
    std::vector<std::optional<std::u16string>> imageInputs;
    std::vector<std::u16string> imageOutputs;
    std::vector<std::pair<int32_t, int32_t>> capabilities;
    std::vector<LayoutNode*> layout;  // top level, owned references

    const ParameterDefinition* parameter(const acfUID& id) const;

protected:
    bool answers(const acfUID& iid) const override {
        return oneOf(iid, {&IID_IACFDefinition, &IID_IACFComponentDefinition, &IID_IAVXEffectDefinition});
    }
};

class ParameterDefinition final : public DefinitionBase<IACFParameterDefinition> {
public:
    ACFRESULT InitializeParameter(const acfUID& parameterId, const acfUID& dataType, const char16_t* label,
                                  const char16_t* secondString, bool perDefinitionOption,
                                  int32_t optionNumber) override;

    bool initialized = false;
    acfUID id{}, dataType{};
    std::u16string label, secondString;
    bool perDefinitionOption = false;
    int32_t optionNumber = 0;

protected:
    bool answers(const acfUID& iid) const override {
        return oneOf(iid, {&IID_IACFDefinition, &IID_IACFParameterDefinition});
    }
};

class CompositeDefinition final : public DefinitionBase<IACFCompositeDefinition> {
public:
    ~CompositeDefinition() override;
    ACFRESULT InitializeComposite(const acfUID& parameterId, const acfUID& dataType, const char16_t* label,
                                  const char16_t* secondString, IACFParameterDefinition* const* members,
                                  uint32_t memberCount) override;

    acfUID id{}, dataType{};
    std::u16string label, secondString;
    std::vector<ParameterDefinition*> members;  // owned references

protected:
    bool answers(const acfUID& iid) const override {
        return oneOf(iid, {&IID_IACFDefinition, &IID_IACFCompositeDefinition});
    }
};

class LayoutNode final : public DefinitionBase<IAVXLayoutNode> {
public:
    ~LayoutNode() override;
    ACFRESULT InitializeNode(const acfUID& nodeId, const char16_t* name, const char16_t* label,
                             const acfUID& controlKind, IACFDefinition* definition) override;
    ACFRESULT AddChild(IAVXLayoutNode* child) override;

    bool initialized = false;
    acfUID id{}, controlKind{};
    std::u16string name, label;
    IACFDefinition* definition = nullptr;  // owned reference, or null
    std::vector<LayoutNode*> children;     // owned references

protected:
    bool answers(const acfUID& iid) const override {
        return oneOf(iid, {&IID_IACFDefinition, &IID_IAVXLayoutNode});
    }
};

std::string toUtf8(const std::u16string& text);

}  // namespace refhost
