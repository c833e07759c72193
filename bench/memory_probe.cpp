// Measures what one frame costs in memory with every stage on, through the built module:
//   memory_probe WIDTH HEIGHT [8|16]
// It renders two frames and reports the peak of the host's memory service over the
// instance's block (the stages' working rasters) and, for each render, the growth of the
// process's peak resident set (everything the render touched: the host's rasters and the
// plug-in's own heap), in bytes and in frames of the output's size. Large blocks are mapped
// and unmapped by the C library, so what one render frees does not stay resident and hide
// what the next one takes.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "refhost/Module.h"
#include "sdk/sdk_ids.h"

using namespace refhost;

namespace {

// A field of /proc/self/status in bytes (VmRSS, VmHWM).
long long statusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0 && line[length] == ':')
            return std::atoll(line.c_str() + length + 1) * 1024;
    return -1;
}

// From here on VmHWM counts from the present resident set.
bool resetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return bool(clear.flush());
}

double mib(long long bytes) { return double(bytes) / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT [8|16]\n", argv[0]);
        return 2;
    }
    ImageSpec shape;
    shape.width = uint32_t(std::atoi(argv[1]));
    shape.height = uint32_t(std::atoi(argv[2]));
    shape.layout = argc > 3 && std::atoi(argv[3]) == 8 ? PixelLayout::BGRA8 : PixelLayout::BGRA16;

    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);

    std::string error;
    auto module = PluginModule::load(TARNIX_MODULE_PATH, &error);
    if (!module) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    HostSession session(*module, nullptr);
    if (session.open() != ACF_OK) return 1;
    MemoryService& memory = session.host()->memory();
    int status = 0;
    {
        EffectInstance effect(session);
        if (effect.status() != ACF_OK) return 1;
        for (const ParameterDefinition* p : session.effect()->parameters)
            if (p->dataType == TYPE_Boolean) effect.values().set(p->id, TYPE_Boolean, 1.0);
        const long long block = memory.liveBytes();

        AcfPtr<Image> input(new Image(shape));
        AcfPtr<Image> output(new Image(shape));
        input->fillRandom(7);
        const long long frameBytes = (long long)output->rowBytes() * shape.height;
        long long growth[2] = {-1, -1};
        for (int frame = 0; frame < 2; ++frame) {
            const long long before = statusBytes("VmRSS");
            const bool peakReset = resetPeak();
            if (effect.render(*input.get(), *output.get(), RenderCall{frame + 1, frame + 1.0}) != ACF_OK) status = 1;
            if (peakReset) growth[frame] = statusBytes("VmHWM") - before;
        }
        const long long hostPeak = memory.peakBytes();

        std::printf("frame %ux%u %s-bit, every stage on\n", shape.width, shape.height,
                    shape.layout == PixelLayout::BGRA8 ? "8" : "16");
        std::printf("  one frame:                        %10.1f MiB\n", mib(frameBytes));
        std::printf("  input and output (the host's):    %10.1f MiB\n", mib(2 * frameBytes));
        std::printf("  instance block (host memory):     %10.1f MiB\n", mib(block));
        std::printf("  host memory peak over the block:  %10.1f MiB  (%.2f frames)\n", mib(hostPeak - block),
                    double(hostPeak - block) / double(frameBytes));
        for (int frame = 0; frame < 2; ++frame)
            if (growth[frame] >= 0)
                std::printf("  resident set growth, render %d:    %10.1f MiB  (%.2f frames)\n", frame + 1,
                            mib(growth[frame]), double(growth[frame]) / double(frameBytes));
        std::printf("  process peak resident set:        %10.1f MiB\n", mib(statusBytes("VmHWM")));
    }
    if (memory.liveBlocks() != 0) status = 1;
    return status;
}
