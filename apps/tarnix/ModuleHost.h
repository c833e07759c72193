// The plug-in module loaded and registered as an editor would, with the parameter
// catalogue read from what it registered.
#pragma once

#include <memory>
#include <string>

#include "apps/tarnix/Parameters.h"
#include "refhost/Module.h"

namespace tarnix {

constexpr const char* kModuleFileName = "TarnixAVX2.avx";

// --module, else $TARNIX_MODULE, else the module beside the tarnix program.
std::string locateModule(const std::string& option);

class ModuleHost {
public:
    explicit ModuleHost(const std::string& moduleOption);
    ~ModuleHost();

    const std::string& path() const { return mPath; }
    const ParameterCatalog& catalog() const { return mCatalog; }
    refhost::HostSession& session() { return *mSession; }
    // A fresh effect instance with every parameter at its default.
    std::unique_ptr<refhost::EffectInstance> newEffect();

private:
    std::string mPath;
    std::unique_ptr<refhost::PluginModule> mModule;
    std::unique_ptr<refhost::HostSession> mSession;
    ParameterCatalog mCatalog;
};

}  // namespace tarnix
