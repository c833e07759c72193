// Host SDK, definition layer: what the plug-in creates at registration time to describe
// itself, its components, its parameters and the layout of its panel.
#pragma once

#include "acf_base.h"

// Any definition carries typed attributes keyed by identifier.
struct IACFDefinition : IACFUnknown {
    virtual ACFRESULT SetAttribute(const acfUID& key, const acfUID& type, const void* data, uint32_t size) = 0;
    // Copies at most `size` bytes; `actualSize` (optional) receives the stored size.
    virtual ACFRESULT GetAttribute(const acfUID& key, acfUID* type, void* data, uint32_t size,
                                   uint32_t* actualSize) = 0;

protected:
    ~IACFDefinition() = default;
};

struct IACFPluginDefinition : IACFDefinition {
    virtual ACFRESULT InitializePlugin(const acfUID& pluginId, uint32_t major, uint32_t minor,
                                       const char16_t* fileName, const acfUID& secondId,
                                       const char16_t* vendorName, uint32_t number1, uint32_t number2) = 0;

protected:
    ~IACFPluginDefinition() = default;
};

struct IACFComponentDefinition : IACFDefinition {
    virtual ACFRESULT InitializeComponent(const acfUID& componentId, const acfUID& componentType,
                                          uint32_t major, uint32_t minor, const acfUID& implementationClass,
                                          const char16_t* name) = 0;

protected:
    ~IACFComponentDefinition() = default;
};

struct IAVXLayoutNode;

// The effect component's definition; it is also the parameter list of the effect and the
// root of its panel layout.
struct IAVXEffectDefinition : IACFComponentDefinition {
    virtual ACFRESULT AddParameter(IACFDefinition* parameter) = 0;
    virtual ACFRESULT AddImageInput(const char16_t* nameOrNull) = 0;
    virtual ACFRESULT AddImageOutput(const char16_t* name) = 0;
    virtual ACFRESULT AddCapability(int32_t what, int32_t value) = 0;
    virtual ACFRESULT AddLayoutNode(IAVXLayoutNode* node) = 0;

protected:
    ~IAVXEffectDefinition() = default;
};

struct IACFParameterDefinition : IACFDefinition {
    // perDefinitionOption and optionNumber are host options whose meaning is the host's.
    virtual ACFRESULT InitializeParameter(const acfUID& parameterId, const acfUID& dataType,
                                          const char16_t* label, const char16_t* secondString,
                                          bool perDefinitionOption, int32_t optionNumber) = 0;

protected:
    ~IACFParameterDefinition() = default;
};

// A parameter made of other parameters (the three channels of a colour).
struct IACFCompositeDefinition : IACFDefinition {
    virtual ACFRESULT InitializeComposite(const acfUID& parameterId, const acfUID& dataType,
                                          const char16_t* label, const char16_t* secondString,
                                          IACFParameterDefinition* const* members, uint32_t memberCount) = 0;

protected:
    ~IACFCompositeDefinition() = default;
};

struct IAVXLayoutNode : IACFDefinition {
    // definition: the parameter the control shows, or the composite of a colour group, or null.
    virtual ACFRESULT InitializeNode(const acfUID& nodeId, const char16_t* name, const char16_t* label,
                                     const acfUID& controlKind, IACFDefinition* definition) = 0;
    virtual ACFRESULT AddChild(IAVXLayoutNode* child) = 0;

protected:
    ~IAVXLayoutNode() = default;
};

struct IACFDefinitionFactory : IACFUnknown {
    virtual ACFRESULT CreateDefinition(const acfUID& classId, const acfUID& iid, void** out) = 0;

protected:
    ~IACFDefinitionFactory() = default;
};
