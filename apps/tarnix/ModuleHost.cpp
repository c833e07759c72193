#include "apps/tarnix/ModuleHost.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "apps/tarnix/Failure.h"

namespace tarnix {

namespace {

// Enough for every working raster one frame holds at once.
constexpr size_t kPooledRasters = 8;

std::string hexStatus(int32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(status));
    return text;
}

std::string programDirectory() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string path(buffer, size_t(n));
    return path.substr(0, path.find_last_of('/'));
}

}  // namespace

std::string locateModule(const std::string& option) {
    if (!option.empty()) {
        if (::access(option.c_str(), R_OK) != 0) throw Failure(Exit::Environment, "--module " + option + ": no such file");
        return option;
    }
    if (const char* env = std::getenv("TARNIX_MODULE"); env && *env) {
        if (::access(env, R_OK) != 0) throw Failure(Exit::Environment, std::string("TARNIX_MODULE=") + env + ": no such file");
        return env;
    }
    const std::string dir = programDirectory();
    for (const std::string& candidate :
         {dir + "/" + kModuleFileName, dir + "/../" + kModuleFileName, dir + "/../lib/tarnix/" + kModuleFileName})
        if (::access(candidate.c_str(), R_OK) == 0) return candidate;
    throw Failure(Exit::Environment, std::string("cannot find ") + kModuleFileName + " beside " + dir +
                                         "/tarnix; give --module PATH or set TARNIX_MODULE");
}

ModuleHost::ModuleHost(const std::string& moduleOption) : mPath(locateModule(moduleOption)) {
    std::string error;
    mModule = refhost::PluginModule::load(mPath, &error);
    if (!mModule) throw Failure(Exit::Environment, error.empty() ? "cannot load " + mPath : error);
    mSession = std::make_unique<refhost::HostSession>(*mModule, nullptr);
    if (const ACFRESULT r = mSession->open(); ACFFailed(r))
        throw Failure(Exit::Environment, mPath + " did not register (status " + hexStatus(r) + ")");
    mCatalog = ParameterCatalog::fromDefinition(*mSession->effect());
    // The stages' working rasters come and go every frame; keep them as an editor does.
    mSession->host()->memory().keepFreedBlocks(kPooledRasters);
}

ModuleHost::~ModuleHost() {
    // The session must close while the library is still loaded.
    mSession.reset();
    mModule.reset();
}

std::unique_ptr<refhost::EffectInstance> ModuleHost::newEffect() {
    auto effect = std::make_unique<refhost::EffectInstance>(*mSession);
    if (ACFFailed(effect->status()))
        throw Failure(Exit::Environment, "the module could not create an effect instance (status " +
                                             hexStatus(effect->status()) + ")");
    return effect;
}

}  // namespace tarnix
