#include "host/avx2/ParamLayout.h"

#include <string>

#include "lib/Common/Status.h"
#include "params/ParameterSet.h"
#include "sdk/acf_definitions.h"
#include "sdk/acf_ptr.h"
#include "sdk/sdk_ids.h"

namespace {

AcfPtr<IAVXLayoutNode> createNode(ParamDefContext& context) {
    AcfPtr<IACFDefinitionFactory> factory;
    raiseIfFailed(context.hostComponent->QueryInterface(IID_IACFDefinitionFactory, factory.outVoid()));
    AcfPtr<IAVXLayoutNode> node;
    raiseIfFailed(factory->CreateDefinition(CLSID_LayoutNode, IID_IAVXLayoutNode, node.outVoid()));
    return node;
}

// The innermost open group takes the node; with none open it goes to the top level.
void attach(ParamDefContext& context, IAVXLayoutNode* node) {
    if (!context.openGroups.empty())
        raiseIfFailed(context.openGroups.back()->AddChild(node));
    else
        raiseIfFailed(context.parameterList->AddLayoutNode(node));
}

class HostParamLayout final : public ParamLayoutBuilder {
public:
    void addEntry(ParamDefContext& context, const acfUID& controlKind, const char* identifier, const char* suffix,
                  const char16_t* label, IACFDefinition* definition) override;
    IAVXLayoutNode* openGroup(ParamDefContext& context, const char* identifier, const char16_t* label,
                              IACFDefinition* property, bool groupOption) override;
    void closeGroup(ParamDefContext& context) override;
};

}  // namespace

ParamLayoutBuilder& hostParamLayout() {
    static HostParamLayout layout;
    return layout;
}

void HostParamLayout::addEntry(ParamDefContext& context, const acfUID& controlKind, const char* identifier,
                               const char* suffix, const char16_t* label, IACFDefinition* definition) {
    if (!slotTableReady()) return;
    AcfPtr<IAVXLayoutNode> node = createNode(context);
    acfUID nodeId{};
    raiseIfFailed(deriveIdentifier(context, (std::string(identifier) + suffix).c_str(), &nodeId));
    raiseIfFailed(node->InitializeNode(nodeId, label, label, controlKind, definition));
    attach(context, node.get());
}

IAVXLayoutNode* HostParamLayout::openGroup(ParamDefContext& context, const char* identifier, const char16_t* label,
                                           IACFDefinition* property, bool groupOption) {
    if (!slotTableReady()) return nullptr;
    AcfPtr<IAVXLayoutNode> node = createNode(context);
    acfUID nodeId{};
    raiseIfFailed(deriveIdentifier(context, (std::string(identifier) + "_layout").c_str(), &nodeId));
    raiseIfFailed(node->InitializeNode(nodeId, label, label, KIND_Group, property));
    if (groupOption) {
        const int32_t on = 1;
        raiseIfFailed(node->SetAttribute(PROP_GroupOption, TYPE_Boolean, &on, sizeof on));
    }
    context.openGroups.push_back(node.get());
    return node.detach();
}

void HostParamLayout::closeGroup(ParamDefContext& context) {
    if (!slotTableReady() || context.openGroups.empty()) return;
    AcfPtr<IAVXLayoutNode> group(context.openGroups.back());
    context.openGroups.pop_back();
    attach(context, group.get());
}
