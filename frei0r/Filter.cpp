// tarnix.so, the frei0r filter: one more host of the module. It loads TarnixAVX2.avx
// ($TARNIX_MODULE, else beside this library, else in ../tarnix/), registers it once, and gives
// every frei0r instance an effect instance of its own that renders the host's RGBA frames as
// 8-bit BGRA. Nothing here throws into the host: a failure is one line on stderr and the
// frame passes through unchanged.
#include <dlfcn.h>
#include <unistd.h>

extern "C" {
#include <frei0r.h>
}

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "refhost/Frei0rParameters.h"
#include "refhost/Module.h"

#define TARNIX_FREI0R_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using refhost::frei0r::FilterParameter;

constexpr const char* kModuleFileName = "TarnixAVX2.avx";
// Enough for every working raster one frame holds at once, as tarnix keeps.
constexpr size_t kPooledRasters = 8;
// Images address their rows with a signed 32-bit stride: 4 bytes a pixel.
constexpr unsigned kWidestFrame = 0x7FFFFFFFu / 4;

void report(const std::string& line) { std::fprintf(stderr, "tarnix frei0r filter: %s\n", line.c_str()); }

std::string hexStatus(int32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(status));
    return text;
}

std::string filterDirectory() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&report), &info) || !info.dli_fname) return ".";
    const std::string path = info.dli_fname;
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string locateModule(std::string* error) {
    if (const char* env = std::getenv("TARNIX_MODULE"); env && *env) return env;
    const std::string dir = filterDirectory();
    for (const std::string& candidate : {dir + "/" + kModuleFileName, dir + "/../tarnix/" + kModuleFileName})
        if (::access(candidate.c_str(), R_OK) == 0) return candidate;
    *error = std::string("cannot find ") + kModuleFileName + " beside " + dir + " or in " + dir +
             "/../tarnix; set TARNIX_MODULE to its path";
    return {};
}

// The module, registered once for every instance. Made in f0r_init and kept until the last
// f0r_deinit; never destroyed at exit, when the module may be gone already.
struct Host {
    std::unique_ptr<refhost::PluginModule> module;
    std::unique_ptr<refhost::HostSession> session;
    std::vector<refhost::Parameter> catalogue;
    std::vector<FilterParameter> parameters;
    std::string failure;  // why the module is not there; empty when it is
    int users = 0;
    int instances = 0;
};

std::mutex gLock;  // guards gHost, its counts and instance creation
Host* gHost = nullptr;

void openModule(Host& host) {
    const std::string path = locateModule(&host.failure);
    if (path.empty()) return;
    std::string error;
    host.module = refhost::PluginModule::load(path, &error);
    if (!host.module) {
        host.failure = error.empty() ? "cannot load " + path : error;
        return;
    }
    host.session = std::make_unique<refhost::HostSession>(*host.module, nullptr);
    if (const ACFRESULT r = host.session->open(); ACFFailed(r)) {
        host.failure = path + " did not register (status " + hexStatus(r) + ")";
        return;
    }
    std::string missing;
    host.catalogue = refhost::readParameters(*host.session->effect(), &missing);
    if (host.catalogue.empty()) {
        host.failure = path + " does not register the parameter " + missing + "; is it a Tarnix module of another version?";
        return;
    }
    host.parameters = refhost::frei0r::filterParameters(host.catalogue);
    host.session->host()->memory().keepFreedBlocks(kPooledRasters);
}

void closeModule(Host*& host) {
    // The session must close while the library is still loaded.
    host->session.reset();
    host->module.reset();
    delete host;
    host = nullptr;
}

struct Instance {
    unsigned width = 0, height = 0;
    std::unique_ptr<refhost::EffectInstance> effect;  // null: frames pass through
    AcfPtr<refhost::Image> input, output;
    std::vector<double> values;  // frei0r values, as the host set them
    int32_t nextFrame = 0;       // for a frame without a usable time
    bool reported = false;       // one line per instance, not one per frame

    const std::vector<FilterParameter>& parameters() const {
        static const std::vector<FilterParameter> none;
        return gHost ? gHost->parameters : none;
    }
    void reportOnce(const std::string& line) {
        if (reported) return;
        reported = true;
        report(line);
    }
};

// RGBA and BGRA bytes differ in the places of red and blue only.
inline uint32_t swapRedBlue(uint32_t p) { return (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16); }

void toImage(const uint32_t* from, refhost::Image& image) {
    const uint32_t w = image.shape().width;
    for (uint32_t y = 0; y < image.shape().height; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(image.row(y));
        const uint32_t* in = from + size_t(y) * w;
        for (uint32_t x = 0; x < w; ++x) row[x] = swapRedBlue(in[x]);
    }
}

void fromImage(const refhost::Image& image, uint32_t* to) {
    const uint32_t w = image.shape().width;
    for (uint32_t y = 0; y < image.shape().height; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(image.pixels() + size_t(y) * size_t(image.rowBytes()));
        uint32_t* out = to + size_t(y) * w;
        for (uint32_t x = 0; x < w; ++x) out[x] = swapRedBlue(row[x]);
    }
}

void passThrough(const Instance& instance, const uint32_t* in, uint32_t* out) {
    if (in && out && in != out) std::memmove(out, in, size_t(instance.width) * instance.height * sizeof(uint32_t));
}

// The module, opened by the first caller (the caller holds gLock). True when this call opened it.
bool openHostOnce() {
    if (gHost) return false;
    gHost = new Host;
    openModule(*gHost);
    if (!gHost->failure.empty()) report(gHost->failure + "; frames pass through unchanged");
    return true;
}

}  // namespace

TARNIX_FREI0R_EXPORT int f0r_init() {
    try {
        std::lock_guard<std::mutex> guard(gLock);
        openHostOnce();
        ++gHost->users;
        return gHost->failure.empty() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

TARNIX_FREI0R_EXPORT void f0r_deinit() {
    try {
        std::lock_guard<std::mutex> guard(gLock);
        if (!gHost || --gHost->users > 0 || gHost->instances > 0) return;
        closeModule(gHost);
    } catch (...) {
    }
}

TARNIX_FREI0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (!info) return;
    info->name = "Tarnix";
    info->author = "Vorlane";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 0;
    info->minor_version = 1;
    std::lock_guard<std::mutex> guard(gLock);
    info->num_params = gHost ? int(gHost->parameters.size()) : 0;
    info->explanation = "The look of old, damaged film: fading, grime, splotches, dust, flicker, vignette, "
                        "grain, scratches that live across frames, gate weave and contrast. Every stage is off "
                        "until its do... switch is on; sliders take 0..1 across their range.";
}

TARNIX_FREI0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int index) {
    if (!info) return;
    std::lock_guard<std::mutex> guard(gLock);
    if (!gHost || index < 0 || size_t(index) >= gHost->parameters.size()) {
        info->name = "";
        info->type = F0R_PARAM_DOUBLE;
        info->explanation = "";
        return;
    }
    const FilterParameter& p = gHost->parameters[size_t(index)];
    info->name = p.name.c_str();
    info->type = p.boolean ? F0R_PARAM_BOOL : F0R_PARAM_DOUBLE;
    info->explanation = p.explanation.c_str();
}

TARNIX_FREI0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    try {
        auto instance = std::make_unique<Instance>();
        instance->width = width;
        instance->height = height;
        std::lock_guard<std::mutex> guard(gLock);
        // A host that did not call f0r_init: do it for it, once.
        if (openHostOnce()) ++gHost->users;
        for (const FilterParameter& p : gHost->parameters) instance->values.push_back(p.defaultValue);
        if (gHost->failure.empty() && width > kWidestFrame) {
            instance->reportOnce("a frame " + std::to_string(width) + " pixels wide is more than a row of an image "
                                 "holds; frames pass through unchanged");
        } else if (width == 0 || height == 0) {
            // No pixels, nothing to render; a 0 x 4294967295 frame still has rows to walk.
        } else if (gHost->failure.empty()) {
            auto effect = std::make_unique<refhost::EffectInstance>(*gHost->session);
            if (ACFFailed(effect->status())) {
                instance->reportOnce("the module could not create an effect instance (status " +
                                     hexStatus(effect->status()) + "); frames pass through unchanged");
            } else {
                refhost::ImageSpec shape;
                shape.width = width;
                shape.height = height;
                shape.layout = refhost::PixelLayout::BGRA8;
                instance->input.reset(new refhost::Image(shape));
                instance->output.reset(new refhost::Image(shape));
                instance->effect = std::move(effect);
            }
        }
        ++gHost->instances;
        return instance.release();
    } catch (const std::exception& e) {
        report(std::string("cannot make an instance: ") + e.what());
        return nullptr;
    } catch (...) {
        return nullptr;
    }
}

TARNIX_FREI0R_EXPORT void f0r_destruct(f0r_instance_t handle) {
    try {
        std::unique_ptr<Instance> instance(static_cast<Instance*>(handle));
        if (!instance) return;
        std::lock_guard<std::mutex> guard(gLock);
        instance.reset();  // the effect instance goes before the session can
        if (gHost && --gHost->instances == 0 && gHost->users == 0) closeModule(gHost);
    } catch (...) {
    }
}

TARNIX_FREI0R_EXPORT void f0r_set_param_value(f0r_instance_t handle, f0r_param_t param, int index) {
    auto* instance = static_cast<Instance*>(handle);
    if (!instance || !param || index < 0 || size_t(index) >= instance->values.size()) return;
    const double v = *static_cast<const double*>(param);
    if (std::isnan(v)) return;
    instance->values[size_t(index)] = v;
    const FilterParameter& p = instance->parameters()[size_t(index)];
    if (p.setting && instance->effect) {
        try {
            refhost::frei0r::applyFilterValue(instance->effect->values(), *p.setting, v);
        } catch (...) {
            instance->reportOnce("cannot set " + p.name);
        }
    }
}

TARNIX_FREI0R_EXPORT void f0r_get_param_value(f0r_instance_t handle, f0r_param_t param, int index) {
    auto* instance = static_cast<Instance*>(handle);
    if (!instance || !param || index < 0 || size_t(index) >= instance->values.size()) return;
    *static_cast<double*>(param) = instance->values[size_t(index)];
}

TARNIX_FREI0R_EXPORT void f0r_update(f0r_instance_t handle, double time, const uint32_t* in, uint32_t* out) {
    auto* instance = static_cast<Instance*>(handle);
    if (!instance || !out) return;
    if (!instance->effect || !in) {
        if (in) passThrough(*instance, in, out);
        return;
    }
    try {
        refhost::RenderCall call;
        const double fps = instance->values[refhost::frei0r::kFpsIndex];
        call.frame = refhost::frei0r::usableTime(time) ? refhost::frei0r::frameAt(time, fps) : instance->nextFrame;
        instance->nextFrame = call.frame == INT32_MAX ? call.frame : call.frame + 1;
        call.time = double(call.frame);  // parameters are constant: keys are frame numbers elsewhere
        toImage(in, *instance->input.get());
        const ACFRESULT status = instance->effect->render(*instance->input.get(), *instance->output.get(), call);
        if (status != ACF_OK) {
            instance->reportOnce("frame " + std::to_string(call.frame) + ": the module rejected the frame (status " +
                                 hexStatus(status) + "); frames it rejects pass through unchanged");
            passThrough(*instance, in, out);
            return;
        }
        fromImage(*instance->output.get(), out);
    } catch (const std::exception& e) {
        instance->reportOnce(std::string("rendering failed: ") + e.what() + "; the frame passes through unchanged");
        passThrough(*instance, in, out);
    } catch (...) {
        instance->reportOnce("rendering failed; the frame passes through unchanged");
        passThrough(*instance, in, out);
    }
}

TARNIX_FREI0R_EXPORT void f0r_update2(f0r_instance_t handle, double time, const uint32_t* in1, const uint32_t*,
                                      const uint32_t*, uint32_t* out) {
    f0r_update(handle, time, in1, out);
}
