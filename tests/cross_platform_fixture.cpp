// Renders a fixed set of frames through a module, or compares two such sets. Built for both
// platforms: the Windows module under Wine and the Linux module must agree byte for byte
// wherever the arithmetic is integer or correctly rounded.
//
//   cross_platform_fixture render MODULE DIR
//   cross_platform_fixture compare DIR_A DIR_B
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "refhost/Module.h"

using namespace refhost;

namespace {

struct Look {
    const char* name;
    std::vector<std::pair<const char*, double>> settings;
};

// One look per stage that exists, and all of them together.
const std::vector<Look>& looks() {
    static const std::vector<Look> all = {
        {"off", {}},
        {"fading", {{"Plugin_FXid_DoFading", 1}, {"Plugin_FXid_FadeAmount", 150}}},
        {"flicker", {{"Plugin_FXid_DoFlicker", 1}, {"Plugin_FXid_FlickerFreq", 1.0}, {"Plugin_FXid_FlickerAmount", 40}}},
        {"funk", {{"Plugin_FXid_DoFunk", 1}, {"Plugin_FXid_FunkOpacity", 100}}},
        {"splotches",
         {{"Plugin_FXid_DoSplotches", 1}, {"Plugin_FXid_SplotchesFrequency", 100}, {"Plugin_FXid_SplotchNumber", 4},
          {"Plugin_FXid_SplotchesScale", 0.2}, {"Plugin_FXid_SplotchesTransparency", 100}}},
        {"dust",
         {{"Plugin_FXid_DoDust", 1}, {"Plugin_FXid_DustFreq", 1}, {"Plugin_FXid_DustOpacity", 1},
          {"Plugin_FXid_BlackNumber", 30}, {"Plugin_FXid_WhiteNumber", 30}}},
        {"vignette", {{"Plugin_FXid_DoVignette", 1}}},
        {"displacement", {{"Plugin_FXid_DoDisplacement", 1}, {"Plugin_FXid_DisplacementAmount", 3.3}}},
        {"grain", {{"Plugin_FXid_DoGrain", 1}}},
        {"grain_mono", {{"Plugin_FXid_DoGrain", 1}, {"Plugin_FXid_DoColorNoise", 0}, {"Plugin_FXid_SoftnessRed", 3.3}}},
        {"gateweave", {{"Plugin_FXid_DoGateweave", 1}, {"Plugin_FXid_NoiseFrequency", 60}}},
        {"micro", {{"Plugin_FXid_DoMicro", 1}, {"Plugin_FXid_Number", 400}}},
        {"deep", {{"Plugin_FXid_DoDeepScratch", 1}, {"Plugin_FXid_DeepScratchNumber", 12}}},
        {"basic", {{"Plugin_FXid_DoBasicScratch", 1}, {"Plugin_FXid_BasicScratchNumber", 12}, {"Plugin_FXid_DoInvert", 0}}},
        {"contrast", {{"Plugin_FXid_DoContrast", 1}}},
        {"contrast_negative", {{"Plugin_FXid_DoContrast", 1}, {"Plugin_FXid_ContrastAmount", -35}}},
        {"everything",
         {{"Plugin_FXid_DoFading", 1}, {"Plugin_FXid_DoFunk", 1}, {"Plugin_FXid_DoSplotches", 1}, {"Plugin_FXid_DoDust", 1},
          {"Plugin_FXid_DoFlicker", 1}, {"Plugin_FXid_DoVignette", 1}, {"Plugin_FXid_DoDisplacement", 1},
          {"Plugin_FXid_DoMicro", 1}, {"Plugin_FXid_DoGrain", 1}, {"Plugin_FXid_DoDeepScratch", 1},
          {"Plugin_FXid_DoBasicScratch", 1}, {"Plugin_FXid_DoGateweave", 1}, {"Plugin_FXid_DoContrast", 1}}},
    };
    return all;
}

// Scratches follow the order in which frames come: a long run forward, back, and in jumps,
// with the frame size changing on the way.
const std::vector<std::pair<const char*, double>> kSequenceLook = {
    {"Plugin_FXid_DoDust", 1},           {"Plugin_FXid_DustFreq", 0.5},
    {"Plugin_FXid_DoMicro", 1},          {"Plugin_FXid_Number", 60},
    {"Plugin_FXid_DoDeepScratch", 1},    {"Plugin_FXid_DeepScratchNumber", 6},
    {"Plugin_FXid_DeepScratchDuration", 15},
    {"Plugin_FXid_DoBasicScratch", 1},   {"Plugin_FXid_BasicScratchNumber", 8},
    {"Plugin_FXid_BasicScratchDuration", 9}};
constexpr int kSequenceLength = 200;

int32_t sequenceFrame(int i) {
    if (i < 90) return i;               // forward
    if (i < 130) return 178 - i;        // back down to 49
    return (i * 7919) % 600 - 150;      // jumps, some repeated
}

const PixelLayout kLayouts[] = {PixelLayout::ARGB8, PixelLayout::BGRA8, PixelLayout::ARGB16, PixelLayout::BGRA16};
const char* const kLayoutNames[] = {"argb8", "bgra8", "argb16", "bgra16"};
const int32_t kFrames[] = {0, 7, 48, -3};

// A picture with smooth gradients, hard edges and fine texture, the same on every platform.
void paint(Image& image) {
    const uint32_t w = image.shape().width, h = image.shape().height, white = image.white();
    uint32_t s = 12345;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            s = s * 1103515245u + 12345u;
            const uint32_t noise = (s >> 16) % 9;
            const bool square = (x / 11 + y / 7) % 2 == 0;
            image.setChannel(x, y, 0, (x + y) % 13 == 0 ? white / 2 : white);
            image.setChannel(x, y, 1, (white * x) / (w - 1));
            image.setChannel(x, y, 2, std::min(white, (white * y) / (h - 1) + noise * white / 255));
            image.setChannel(x, y, 3, square ? white / 5 : white * 4 / 5);
        }
}

bool writeFrame(std::ofstream& file, ACFRESULT r, Image& output) {
    file.write(reinterpret_cast<const char*>(&r), sizeof r);
    const size_t rowBytes = size_t(output.shape().width) * size_t(output.bytesPerPixel());
    for (uint32_t y = 0; y < output.shape().height; ++y)
        file.write(reinterpret_cast<const char*>(output.row(y)), std::streamsize(rowBytes));
    return bool(file);
}

// All frames of the sequence into one file; every 40th frame is of another size.
int renderSequence(HostSession& session, const ImageSpec& shape, Image& input, const std::string& path) {
    ImageSpec small = shape;
    small.width = 41;
    small.height = 29;
    AcfPtr<Image> smallInput(new Image(small)), smallOutput(new Image(small)), output(new Image(shape));
    paint(*smallInput.get());
    EffectInstance effect(session);
    for (auto [name, value] : kSequenceLook) effect.set(name, value);
    std::ofstream file(path, std::ios::binary);
    for (int i = 0; i < kSequenceLength; ++i) {
        const bool other = i % 40 == 39;
        Image& in = other ? *smallInput.get() : input;
        Image& out = other ? *smallOutput.get() : *output.get();
        const int32_t frame = sequenceFrame(i);
        if (!writeFrame(file, effect.render(in, out, RenderCall{frame, double(frame)}), out)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 2;
        }
    }
    return 0;
}

int render(const std::string& modulePath, const std::string& dir) {
    std::string error;
    auto module = PluginModule::load(modulePath, &error);
    if (!module) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    HostSession session(*module, nullptr);
    if (session.open() != 0) {
        std::fprintf(stderr, "cannot open the module\n");
        return 2;
    }
    for (size_t l = 0; l < 4; ++l) {
        ImageSpec shape;
        shape.width = 67;
        shape.height = 43;
        shape.layout = kLayouts[l];
        shape.rowPadding = 24;
        AcfPtr<Image> input(new Image(shape));
        AcfPtr<Image> output(new Image(shape));
        paint(*input.get());
        if (int status = renderSequence(session, shape, *input.get(), dir + "/sequence_" + kLayoutNames[l] + ".raw"))
            return status;
        for (const Look& look : looks()) {
            // One instance per look renders the frames in order, as an editor would.
            EffectInstance effect(session);
            for (auto [name, value] : look.settings) effect.set(name, value);
            for (int32_t frame : kFrames) {
                const ACFRESULT r = effect.render(*input.get(), *output.get(), RenderCall{frame, double(frame)});
                const std::string path = dir + "/" + look.name + "_" + kLayoutNames[l] + "_" + std::to_string(frame) + ".raw";
                std::ofstream file(path, std::ios::binary);
                if (!writeFrame(file, r, *output.get())) {
                    std::fprintf(stderr, "cannot write %s\n", path.c_str());
                    return 2;
                }
            }
        }
    }
    return 0;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// Every file a render writes, with its layout's index.
std::vector<std::pair<std::string, size_t>> fileNames() {
    std::vector<std::pair<std::string, size_t>> names;
    for (size_t l = 0; l < 4; ++l) {
        names.emplace_back(std::string("sequence_") + kLayoutNames[l] + ".raw", l);
        for (const Look& look : looks())
            for (int32_t frame : kFrames)
                names.emplace_back(std::string(look.name) + "_" + kLayoutNames[l] + "_" + std::to_string(frame) + ".raw", l);
    }
    return names;
}

int compare(const std::string& a, const std::string& b) {
    int failures = 0, files = 0;
    for (const auto& [name, l] : fileNames()) {
        const std::vector<uint8_t> x = readFile(a + "/" + name), y = readFile(b + "/" + name);
        ++files;
        if (x.empty() || x.size() != y.size()) {
            std::printf("%s: missing or of different size\n", name.c_str());
            ++failures;
            continue;
        }
        const int sample = l < 2 ? 1 : 2;
        size_t differing = 0;
        int largest = 0;
        for (size_t i = 4; i + sample <= x.size(); i += size_t(sample)) {
            const int u = sample == 1 ? x[i] : x[i] | x[i + 1] << 8;
            const int v = sample == 1 ? y[i] : y[i] | y[i + 1] << 8;
            if (u != v) {
                ++differing;
                largest = std::max(largest, std::abs(u - v));
            }
        }
        const bool sameStatus = std::equal(x.begin(), x.begin() + 4, y.begin());
        if (differing || !sameStatus) {
            std::printf("%s: %zu samples differ, largest difference %d%s\n", name.c_str(), differing, largest,
                        sameStatus ? "" : ", statuses differ");
            ++failures;
        }
    }
    std::printf("%d of %d files identical on both platforms\n", files - failures, files);
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "render" && argc == 4) return render(argv[2], argv[3]);
    if (mode == "compare" && argc == 4) return compare(argv[2], argv[3]);
    std::fprintf(stderr, "usage: %s render MODULE DIR | compare DIR_A DIR_B\n", argv[0]);
    return 2;
}
