#include "refhost/Module.h"

#include "platform/platform.h"

namespace refhost {

namespace {
// The module's identifiers as registered; the host learns them from the definitions, the
// class identifiers from the component definitions.
const acfUID kPluginNameSpace = {0x49D9089D, 0x7281, 0x4051, {0x93, 0x91, 0x3D, 0x6C, 0xDA, 0x11, 0xB7, 0x8B}};
}  // namespace

std::unique_ptr<PluginModule> PluginModule::load(const std::string& path, std::string* error) {
    void* library = platform::loadLibrary(path.c_str());
    if (!library) {
        if (error) *error = std::string("cannot load ") + path + ": " + platform::lastLibraryError();
        return nullptr;
    }
    std::unique_ptr<PluginModule> m(new PluginModule);
    m->mLibrary = library;
    auto resolve = [&](auto& fn, const char* name) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(platform::librarySymbol(library, name));
        if (!fn && error && error->empty()) *error = path + " has no entry point " + name;
        return fn != nullptr;
    };
    if (error) error->clear();
    // Every entry point is looked up, so the error names the first one missing.
    bool complete = resolve(m->registerPlugin, "ACFRegisterPlugin");
    complete = resolve(m->registerComponent, "ACFRegisterComponent") && complete;
    complete = resolve(m->getClassFactory, "ACFGetClassFactory") && complete;
    complete = resolve(m->canUnloadNow, "ACFCanUnloadNow") && complete;
    complete = resolve(m->startup, "ACFStartup") && complete;
    complete = resolve(m->shutdown, "ACFShutdown") && complete;
    if (!complete) return nullptr;
    return m;
}

PluginModule::~PluginModule() { platform::freeLibrary(mLibrary); }

HostSession::HostSession(PluginModule& module, HostComponent* host)
    : mModule(module), mHost(AcfPtr<HostComponent>::share(host ? host : nullptr)) {
    if (!mHost) mHost.reset(new HostComponent);
}

HostSession::~HostSession() { close(); }

acfUID HostSession::parameterUID(const std::string& identifier) {
    return nameUID(kPluginNameSpace, "com.vorlane." + identifier);
}

ACFRESULT HostSession::open() {
    ACFRESULT r = mModule.startup(mHost.get());
    if (ACFFailed(r)) return r;
    mOpen = true;

    IACFPluginDefinition* plugin = nullptr;
    if (ACFFailed(r = mModule.registerPlugin(mHost.get(), &plugin))) return r;
    mPlugin.reset(dynamic_cast<PluginDefinition*>(plugin));
    if (!mPlugin) return ACF_E_UNEXPECTED;

    IACFComponentDefinition* component = nullptr;
    if (ACFFailed(r = mModule.registerComponent(mHost.get(), 0, &component))) return r;
    mEffect.reset(dynamic_cast<EffectDefinition*>(component));
    if (!mEffect) return ACF_E_UNEXPECTED;
    if (ACFFailed(r = mModule.registerComponent(mHost.get(), 1, &component))) return r;
    mUpdater.reset(dynamic_cast<ComponentDefinition*>(component));
    if (!mUpdater) return ACF_E_UNEXPECTED;

    if (ACFFailed(r = mModule.getClassFactory(mHost.get(), &mEffect->implementationClass, &IID_IACFClassFactory,
                                              mEffectFactory.outVoid())))
        return r;
    return mModule.getClassFactory(mHost.get(), &mUpdater->implementationClass, &IID_IACFClassFactory,
                                   mUpdaterFactory.outVoid());
}

ACFRESULT HostSession::close() {
    if (!mOpen) return ACF_OK;
    mEffectFactory.reset();
    mUpdaterFactory.reset();
    mPlugin.reset();
    mEffect.reset();
    mUpdater.reset();
    const ACFRESULT unload = mModule.canUnloadNow(mHost.get());
    mModule.shutdown(mHost.get());
    mOpen = false;
    return unload;
}

EffectInstance::EffectInstance(HostSession& session) : mSession(session) {
    mValues = session.effect() ? ParameterValues::fromDefinition(*session.effect()) : std::make_shared<ParameterValues>();
    if (session.effectFactory())
        mStatus = session.effectFactory()->CreateInstance(session.host(), nullptr, IID_IAVXEffect, mEffect.outVoid());
}

EffectInstance::~EffectInstance() = default;

bool EffectInstance::set(const std::string& identifier, double value) {
    const acfUID id = HostSession::parameterUID(identifier);
    const ValueTrack* track = mValues->track(id);
    if (!track) return false;
    mValues->set(id, track->type, value);
    return true;
}

bool EffectInstance::setKeys(const std::string& identifier, std::vector<std::pair<double, double>> keys) {
    const acfUID id = HostSession::parameterUID(identifier);
    const ValueTrack* track = mValues->track(id);
    if (!track) return false;
    mValues->setKeys(id, track->type, std::move(keys));
    return true;
}

ACFRESULT EffectInstance::render(Image& input, Image& output, const RenderCall& call) {
    if (!mEffect) return mStatus;
    AcfPtr<InputService> inputService(new InputService(&input));
    AcfPtr<EffectContext> effectContext(new EffectContext(mValues, inputService.get()));
    for (int i = 0; i < 4; ++i) effectContext->scaleTerms[i] = call.scale[i];
    effectContext->effectWidth = int32_t(output.shape().width);
    effectContext->effectHeight = int32_t(output.shape().height);
    AcfPtr<FrameContext> frameContext(new FrameContext(call.frame));
    AcfPtr<RenderContext> renderContext(new RenderContext(call.renderValue, call.time));
    AcfPtr<ImageSource> outputSource(new ImageSource(&output));
    AcfPtr<OpaqueObject> stored2(new OpaqueObject), stored3(new OpaqueObject), stored5(new OpaqueObject);
    return mEffect->ProcessFrame(effectContext.get(), stored2.get(), stored3.get(), frameContext.get(), stored5.get(),
                                 renderContext.get(), outputSource.get());
}

}  // namespace refhost
