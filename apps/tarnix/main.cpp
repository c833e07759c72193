// tarnix: renders video files, images and image sequences through the Tarnix plug-in
// module, hosting it exactly as an editor does.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "apps/tarnix/Demo.h"
#include "apps/tarnix/Failure.h"
#include "apps/tarnix/Interrupt.h"
#include "apps/tarnix/ModuleHost.h"
#include "apps/tarnix/Presets.h"
#include "apps/tarnix/Render.h"
#include "refhost/Frei0rParameters.h"

using namespace tarnix;

namespace {

const char* const kUsage =
    "usage: tarnix render INPUT OUTPUT [options]   render INPUT through the effect into OUTPUT\n"
    "       tarnix demo [DIR]                      render a synthetic clip into DIR (default out/)\n"
    "       tarnix params [--preset-template|--frei0r]  list the parameters, print a preset file,\n"
    "                                              or list the frei0r filter's parameters\n"
    "       tarnix presets                         list the built-in presets and their values\n"
    "\n"
    "INPUT   a video file, a still image or an image sequence (name_%04d.png) that ffmpeg reads\n"
    "OUTPUT  by extension: .mp4 (H.264), .mov (ProRes 422 HQ), .mkv (FFV1, lossless),\n"
    "        .png or .tif (one image, or a sequence such as out_%04d.png); audio is copied\n"
    "\n"
    "render options:\n"
    "  --set NAME=VALUE     set a parameter (see tarnix params); VALUE is a number, on/off,\n"
    "                       or keys VALUE@FRAME,VALUE@FRAME,... (linear between keys)\n"
    "  --preset NAME|FILE   a built-in look (see tarnix presets) or a preset file;\n"
    "                       presets and --set apply in the order given\n"
    "  --depth 8|16         bits per channel to render (default: 16 for deeper sources, else 8)\n"
    "  --order bgra|argb    the plug-in's pixel layout (default bgra)\n"
    "  --proxy FACTOR       render at 1/FACTOR size, telling the plug-in the render scale\n"
    "  --frames FIRST:LAST  render these frame numbers only (either end may be left out)\n"
    "  --start-frame N      frame number of the first input frame, negative ones too (default\n"
    "                       0, or the first number of an image sequence); keys and seeds\n"
    "                       follow frame numbers, file names do not: the files of an output\n"
    "                       sequence take the numbers of the input frames they come from\n"
    "                       (a sequence's own, a video's counted from 0)\n"
    "  --fps RATE           frame rate of an image-sequence input (default 25)\n"
    "  --codec NAME         ffmpeg video encoder instead of the container's own\n"
    "  --crf N              quality, lower is better: 0 to 51 for H.264 (.mp4, default 18)\n"
    "                       and --codec libx264 or libx265, 0 to 63 for --codec libvpx,\n"
    "                       libvpx-vp9, libaom-av1 or libsvtav1\n"
    "  -y, --overwrite      replace an existing OUTPUT\n"
    "  -q, --quiet          no progress line and no summary\n"
    "  --module PATH        the plug-in module (default: $TARNIX_MODULE, else the one beside tarnix)\n"
    "  An option's value may also follow an equals sign: --depth=16.\n"
    "\n"
    "exit codes: 0 done, 1 rendering failed, 2 bad command line or parameter, 3 input problem,\n"
    "            4 output exists or cannot be written, 5 ffmpeg or the module missing,\n"
    "            128 + the signal when interrupted (130 for Ctrl-C)\n";

class Arguments {
public:
    Arguments(int argc, char** argv, int from) : mArgs(argv + from, argv + argc) {}
    bool done() const { return mAt >= mArgs.size(); }
    const std::string& peek() const { return mArgs[mAt]; }
    std::string next() { return mArgs[mAt++]; }
    // "--name VALUE" or "--name=VALUE" when the current argument is that option.
    bool option(const char* name, std::string& value) {
        const std::string& a = mArgs[mAt];
        const size_t n = std::strlen(name);
        if (a == name) {
            if (mAt + 1 >= mArgs.size()) throw Failure(Exit::Usage, std::string(name) + " needs a value");
            value = mArgs[mAt + 1];
            mAt += 2;
            return true;
        }
        if (a.size() > n && a.compare(0, n, name) == 0 && a[n] == '=') {
            value = a.substr(n + 1);
            if (value.empty()) throw Failure(Exit::Usage, std::string(name) + " needs a value");
            ++mAt;
            return true;
        }
        return false;
    }
    bool flag(std::initializer_list<const char*> names) {
        for (const char* n : names) {
            if (mArgs[mAt] == n) {
                ++mAt;
                return true;
            }
            if (mArgs[mAt].rfind(std::string(n) + "=", 0) == 0) throw Failure(Exit::Usage, std::string(n) + " takes no value");
        }
        return false;
    }

private:
    std::vector<std::string> mArgs;
    size_t mAt = 0;
};

[[noreturn]] void unknownOption(const std::string& a) {
    throw Failure(Exit::Usage, "unknown option " + a + " (tarnix --help lists them)");
}

long long wholeNumber(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != 0) throw Failure(Exit::Usage, option + " takes a whole number, not \"" + text + "\"");
    return v;
}

void commandRender(Arguments& args) {
    RenderOptions o;
    std::vector<std::string> positional;
    while (!args.done()) {
        std::string v;
        if (args.option("--set", v)) o.look.push_back({LookStep::Kind::Set, v});
        else if (args.option("--preset", v)) o.look.push_back({LookStep::Kind::Preset, v});
        else if (args.option("--depth", v)) {
            if (v != "8" && v != "16") throw Failure(Exit::Usage, "--depth takes 8 or 16");
            o.depth = std::stoi(v);
        } else if (args.option("--order", v)) {
            if (v != "bgra" && v != "argb") throw Failure(Exit::Usage, "--order takes bgra or argb");
            o.bgra = v == "bgra";
        } else if (args.option("--proxy", v)) {
            char* end = nullptr;
            o.proxy = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != 0 || !(o.proxy >= 1.0 && o.proxy <= 16.0))
                throw Failure(Exit::Usage, "--proxy takes a factor from 1 to 16 (2 renders at half size)");
        } else if (args.option("--frames", v)) o.frames = parseFrameSpan(v);
        else if (args.option("--start-frame", v)) {
            // Frame numbers travel to the plug-in as 32-bit integers.
            o.startFrame = wholeNumber("--start-frame", v);
            if (*o.startFrame < -1000000000 || *o.startFrame > 1000000000)
                throw Failure(Exit::Usage, "--start-frame takes a frame number from -1000000000 to 1000000000");
        }
        else if (args.option("--fps", v)) {
            o.sequenceRate = parseRational(v);
            if (!o.sequenceRate) throw Failure(Exit::Usage, "--fps takes a rate such as 24, 23.976 or 30000/1001");
        } else if (args.option("--codec", v)) o.encode.codec = v;
        else if (args.option("--crf", v)) {
            // Its range depends on the encoder; planning the output checks it.
            const long long crf = wholeNumber("--crf", v);
            o.encode.crf = int(std::clamp<long long>(crf, -1, 1000));
        } else if (args.option("--module", v)) o.module = v;
        else if (args.flag({"-y", "--overwrite"})) o.overwrite = true;
        else if (args.flag({"-q", "--quiet"})) o.quiet = true;
        else if (args.peek().size() > 1 && args.peek()[0] == '-') unknownOption(args.peek());
        else positional.push_back(args.next());
    }
    if (positional.size() != 2) throw Failure(Exit::Usage, "render needs INPUT and OUTPUT (tarnix --help)");
    o.input = positional[0];
    o.output = positional[1];
    runRender(o);
}

std::string pad(const std::string& s, size_t width) { return s.size() >= width ? s : s + std::string(width - s.size(), ' '); }

void commandParams(Arguments& args) {
    std::string module;
    bool presetTemplateWanted = false, frei0rWanted = false;
    while (!args.done()) {
        std::string v;
        if (args.option("--module", v)) module = v;
        else if (args.flag({"--preset-template"})) presetTemplateWanted = true;
        else if (args.flag({"--frei0r"})) frei0rWanted = true;
        else unknownOption(args.peek());
    }
    ModuleHost host(module);
    if (presetTemplateWanted) {
        std::fputs(presetTemplate(host.catalog()).c_str(), stdout);
        return;
    }
    if (frei0rWanted) {
        const auto parameters = refhost::frei0r::filterParameters(host.catalog().all());
        std::printf("%-3s %-24s %-7s %-19s %s\n", "#", "NAME", "KIND", "DEFAULT", "MEANING");
        for (size_t i = 0; i < parameters.size(); ++i)
            std::printf("%-3zu %-24s %-7s %-19s %s\n", i, parameters[i].name.c_str(), parameters[i].boolean ? "bool" : "double",
                        refhost::frei0r::formatNumber(parameters[i].defaultValue).c_str(), parameters[i].explanation.c_str());
        std::printf("\nffmpeg takes the values in this order, separated by |, up to the last one you change\n"
                    "(booleans as y or n), and gives the time in milliseconds: for a 25 fps clip,\n"
                    "ffmpeg -i IN -vf \"frei0r=tarnix:0.025|y|0.25\" OUT fades by 50.\n"
                    "melt takes them by name: melt IN -filter frei0r.tarnix doFading=1 fadeAmount=0.25\n");
        return;
    }
    struct Row {
        std::string cells[7];
    };
    std::vector<Row> rows = {{{"NAME", "LABEL", "GROUP", "KIND", "DEFAULT", "RANGE", "ALSO"}}};
    for (const Parameter& p : host.catalog().all())
        rows.push_back({{p.field, p.label, p.group.empty() ? "-" : p.group, kindName(p.kind), formatValue(p, p.defaultValue),
                         p.kind == ParameterKind::Checkbox ? "on/off" : describeRange(p), p.shortName}});
    size_t width[7] = {};
    for (const Row& r : rows)
        for (int c = 0; c < 7; ++c) width[c] = std::max(width[c], r.cells[c].size());
    for (const Row& r : rows) {
        std::string line;
        for (int c = 0; c < 6; ++c) line += pad(r.cells[c], width[c] + 2);
        line += r.cells[6];
        std::printf("%s\n", line.c_str());
    }
    std::printf("\nSet any of them with --set NAME=VALUE; NAME is the first or the last column, in any case.\n");
}

void commandPresets(Arguments& args) {
    std::string module;
    while (!args.done()) {
        std::string v;
        if (args.option("--module", v)) module = v;
        else unknownOption(args.peek());
    }
    ModuleHost host(module);
    bool firstPreset = true;
    for (const Preset& preset : builtInPresets()) {
        if (!firstPreset) std::printf("\n");
        firstPreset = false;
        std::printf("%s: %s\n", preset.name.c_str(), preset.description.c_str());
        // Through the parser, so what is listed is what a render gets.
        for (const Setting& s : loadPreset(host.catalog(), preset.name))
            std::printf("  %s = %s\n", s.parameter->field.c_str(), formatSetting(s).c_str());
    }
    std::printf("\n%s", kStageOrderNote);
    std::printf("\nUse one with --preset NAME; tarnix params --preset-template writes a preset file to edit.\n");
}

void commandDemo(Arguments& args) {
    DemoOptions o;
    bool haveDir = false;
    while (!args.done()) {
        std::string v;
        if (args.option("--module", v)) o.module = v;
        else if (args.flag({"-q", "--quiet"})) o.quiet = true;
        else if (args.peek().size() > 1 && args.peek()[0] == '-') unknownOption(args.peek());
        else if (!haveDir) o.directory = args.next(), haveDir = true;
        else throw Failure(Exit::Usage, "demo takes one folder");
    }
    runDemo(o);
}

}  // namespace

int main(int argc, char** argv) {
    interrupt::install();
    try {
        if (argc < 2) {
            std::fputs(kUsage, stderr);
            return int(Exit::Usage);
        }
        const std::string command = argv[1];
        Arguments args(argc, argv, 2);
        if (command == "--help" || command == "-h" || command == "help") std::fputs(kUsage, stdout);
        else if (command == "render") commandRender(args);
        else if (command == "params") commandParams(args);
        else if (command == "presets") commandPresets(args);
        else if (command == "demo") commandDemo(args);
        else throw Failure(Exit::Usage, "unknown command \"" + command + "\"; use render, demo, params or presets");
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) throw Failure(Exit::Output, "cannot write to standard output");
        return 0;
    } catch (const Failure& f) {
        std::fprintf(stderr, "tarnix: %s\n", f.what());
        // The shell's convention for a command ended by a signal.
        if (f.code() == Exit::Interrupted && interrupt::signalNumber() != 0) return 128 + interrupt::signalNumber();
        return int(f.code());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "tarnix: out of memory\n");
        return int(Exit::RenderFailed);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnix: %s\n", e.what());
        return int(Exit::RenderFailed);
    }
}
