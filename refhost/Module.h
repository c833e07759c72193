// Drives a plug-in module through its six exports only, as an editor does: start-up,
// registration of the plug-in and its components, class factories, effect instances that
// render frames, and shut-down.
#pragma once

#include <memory>
#include <string>

#include "refhost/Contexts.h"
#include "refhost/Definitions.h"
#include "refhost/Images.h"
#include "refhost/RefHost.h"
#include "sdk/acf_exports.h"

namespace refhost {

class PluginModule {
public:
    // Null with a reason in `error` when the file cannot be loaded or lacks an entry point.
    static std::unique_ptr<PluginModule> load(const std::string& path, std::string* error);
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    ACFRegisterPluginFn registerPlugin = nullptr;
    ACFRegisterComponentFn registerComponent = nullptr;
    ACFGetClassFactoryFn getClassFactory = nullptr;
    ACFCanUnloadNowFn canUnloadNow = nullptr;
    ACFStartupFn startup = nullptr;
    ACFShutdownFn shutdown = nullptr;

private:
    PluginModule() = default;
    void* mLibrary = nullptr;
};

// One host's view of a loaded module: started and registered on open().
class HostSession {
public:
    HostSession(PluginModule& module, HostComponent* host);
    ~HostSession();

    // Start-up, plug-in and component registration, both class factories.
    ACFRESULT open();
    // Releases factories and definitions, asks whether the module may unload, shuts down.
    ACFRESULT close();

    PluginModule& module() { return mModule; }
    HostComponent* host() { return mHost.get(); }
    PluginDefinition* plugin() { return mPlugin.get(); }
    EffectDefinition* effect() { return mEffect.get(); }
    ComponentDefinition* updater() { return mUpdater.get(); }
    IACFClassFactory* effectFactory() { return mEffectFactory.get(); }
    IACFClassFactory* updaterFactory() { return mUpdaterFactory.get(); }

    // The identifier the host derives for a parameter identifier string.
    static acfUID parameterUID(const std::string& identifier);

private:
    PluginModule& mModule;
    AcfPtr<HostComponent> mHost;
    AcfPtr<PluginDefinition> mPlugin;
    AcfPtr<EffectDefinition> mEffect;
    AcfPtr<ComponentDefinition> mUpdater;
    AcfPtr<IACFClassFactory> mEffectFactory;
    AcfPtr<IACFClassFactory> mUpdaterFactory;
    bool mOpen = false;
};

// What the host tells the effect about one render call, beyond the two images.
struct RenderCall {
    int32_t frame = 0;
    double time = 0;          // parameter time; tarnix and the tests use the frame number
    uint32_t renderValue = 0;
    int32_t scale[4] = {1, 1, 1, 1};  // render scale: X numerator, denominator, Y numerator, denominator
};

// An effect instance with its own parameter values, rendering one frame per call.
class EffectInstance {
public:
    explicit EffectInstance(HostSession& session);
    ~EffectInstance();

    // 0 when created; the factory's status otherwise.
    ACFRESULT status() const { return mStatus; }
    ParameterValues& values() { return *mValues; }
    std::shared_ptr<ParameterValues> sharedValues() { return mValues; }
    IAVXEffect* effect() { return mEffect.get(); }

    // Sets a parameter by identifier string ("Plugin_FXid_DoFading"); false when unknown.
    bool set(const std::string& identifier, double value);
    bool setKeys(const std::string& identifier, std::vector<std::pair<double, double>> keys);

    // Renders `input` into `output` through ProcessFrame.
    ACFRESULT render(Image& input, Image& output, const RenderCall& call);

private:
    [[maybe_unused]] HostSession& mSession;
    std::shared_ptr<ParameterValues> mValues;
    AcfPtr<IAVXEffect> mEffect;
    ACFRESULT mStatus = ACF_E_FAIL;
};

}  // namespace refhost
