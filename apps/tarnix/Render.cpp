#include "apps/tarnix/Render.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <numeric>
#include <thread>

#include "apps/tarnix/Failure.h"
#include "apps/tarnix/FrameQueue.h"
#include "apps/tarnix/Interrupt.h"
#include "apps/tarnix/ModuleHost.h"
#include "apps/tarnix/PixelPacking.h"
#include "apps/tarnix/Presets.h"
#include "apps/tarnix/Process.h"
#include "apps/tarnix/Progress.h"
#include "apps/tarnix/SafeOutput.h"

namespace tarnix {

namespace {

// Frames in flight between the threads: enough to keep all three busy.
constexpr size_t kFramesInFlight = 3;

std::optional<int64_t> parseFrameNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != 0) throw Failure(Exit::Usage, "--frames: \"" + text + "\" is not a frame number");
    return v;
}

std::string hexStatus(int32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(status));
    return text;
}

// The first failure of any thread wins; later ones are consequences.
class FirstFailure {
public:
    void set(Exit code, const std::string& message) {
        std::lock_guard<std::mutex> guard(mLock);
        if (!mFailure) mFailure.emplace(code, message);
    }
    void rethrow() {
        std::lock_guard<std::mutex> guard(mLock);
        if (mFailure) throw *mFailure;
    }

private:
    std::mutex mLock;
    std::optional<Failure> mFailure;
};

std::string rateText(const Rational& r) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", r.value());
    return text;
}

}  // namespace

FrameSpan parseFrameSpan(const std::string& text) {
    FrameSpan span;
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        span.first = span.last = parseFrameNumber(text);
        if (!span.first) throw Failure(Exit::Usage, "--frames takes FIRST:LAST");
        return span;
    }
    span.first = parseFrameNumber(text.substr(0, colon));
    span.last = parseFrameNumber(text.substr(colon + 1));
    if (span.first && span.last && *span.last < *span.first)
        throw Failure(Exit::Usage, "--frames " + text + ": the last frame comes before the first");
    return span;
}

std::vector<Setting> resolveLook(const ParameterCatalog& catalog, const std::vector<LookStep>& look) {
    std::vector<Setting> settings;
    for (const LookStep& step : look) {
        if (step.kind == LookStep::Kind::Preset) {
            for (Setting& s : loadPreset(catalog, step.text)) settings.push_back(std::move(s));
        } else {
            settings.push_back(parseSetting(catalog, step.text));
        }
    }
    return settings;
}

std::pair<int32_t, int32_t> proxyScale(double factor) {
    const double rounded = std::round(factor);
    if (std::fabs(factor - rounded) < 1e-9) return {1, int32_t(rounded)};
    const int32_t den = int32_t(std::lround(factor * 1000.0));
    const int32_t g = std::gcd(1000, den);
    return {1000 / g, den / g};
}

void runRender(const RenderOptions& o) {
    // What the command line alone decides is checked before any work.
    checkOutputFolder(o.output);
    planOutputName(o.output, o.encode);
    if (o.sequenceRate && !parseSequencePattern(o.input))
        throw Failure(Exit::Usage, "--fps sets the rate of an image sequence, and " + o.input + " is not one");

    ModuleHost host(o.module);
    const std::vector<Setting> look = resolveLook(host.catalog(), o.look);
    const Tools tools = Tools::locate();
    const SourceInfo source = probeSource(tools, o.input, o.sequenceRate);

    RawFormat raw;
    raw.deep = o.depth ? *o.depth == 16 : source.bitDepth > 8;
    raw.bgra = o.bgra;
    const int width = std::max(1, int(std::lround(source.width / o.proxy)));
    const int height = std::max(1, int(std::lround(source.height / o.proxy)));
    const auto [scaleNum, scaleDen] = proxyScale(o.proxy);

    // Frame numbers: the first frame of INPUT is `start`; keys and seeds follow them.
    const int64_t start = o.startFrame.value_or(source.sequence ? source.sequenceStart : 0);
    DecodeRange range;
    const int64_t first = o.frames.first.value_or(start);
    const int64_t last = o.frames.last.value_or(INT64_MAX);
    const std::string inputFrames =
        source.frameCount < 0 ? "frames from " + std::to_string(start)
                              : "frames " + std::to_string(start) + " to " + (source.frameCountExact ? "" : "about ") +
                                    std::to_string(start + source.frameCount - 1);
    const std::string asked = "--frames " + (o.frames.first ? std::to_string(*o.frames.first) : "") + ":" +
                              (o.frames.last ? std::to_string(*o.frames.last) : "");
    if (last < std::max(first, start) || (source.frameCountExact && first >= start + source.frameCount))
        throw Failure(Exit::Usage, asked + " is outside the input, which has " + inputFrames);
    if (first < start) throw Failure(Exit::Usage, asked + " starts before the input, which has " + inputFrames);
    range.first = first - start;
    if (o.frames.last) range.count = last - first + 1;

    OutputPlan plan = planOutput(o.output, source, raw, width, height, o.encode);
    if (plan.image && !plan.sequence) {
        const int64_t available = source.frameCount < 0 ? -1 : source.frameCount - range.first;
        if (range.count < 0 && available == 1) range.count = 1;
        if (range.count != 1)
            throw Failure(Exit::Usage, o.output + " is one image but the input has " +
                                           (available > 0 ? std::to_string(available) : std::string("several")) +
                                           " frames; name a sequence such as out_%04d.png or pick one with --frames N");
    }
    const int64_t expected = range.count >= 0 ? range.count : (source.frameCount >= 0 ? source.frameCount - range.first : -1);

    SafeOutput output(plan, o.overwrite);
    if (!o.quiet && !plan.note.empty()) std::fprintf(stderr, "tarnix: note: %s\n", plan.note.c_str());

    std::unique_ptr<refhost::EffectInstance> effect = host.newEffect();
    for (const Setting& s : look) applySetting(s, *effect);

    refhost::ImageSpec shape;
    shape.width = uint32_t(width);
    shape.height = uint32_t(height);
    shape.layout = layoutFor(raw);
    std::vector<AcfPtr<refhost::Image>> images;
    FrameQueue<refhost::Image*> freeInputs(kFramesInFlight), freeOutputs(kFramesInFlight);
    FrameQueue<refhost::Image*> decoded(kFramesInFlight), rendered(kFramesInFlight);
    for (size_t i = 0; i < 2 * kFramesInFlight; ++i) {
        images.emplace_back(new refhost::Image(shape));
        (i % 2 ? freeOutputs : freeInputs).push(images.back().get());
    }
    const size_t frameBytes = rawFrameBytes(raw, width, height);

    ChildProcess decoder(decoderCommand(tools, source, raw, range, width, height), ChildProcess::Stream::Null,
                         ChildProcess::Stream::Pipe);
    // Files of an output sequence take the numbers of the input frames they come from, whatever
    // --start-frame says: a sequence's own numbers, a video's counted from 0.
    const int64_t firstFileNumber = (source.sequence ? source.sequenceStart : 0) + range.first;
    ChildProcess encoder(encoderCommand(tools, plan, &source, raw, width, height, source.frameRate, range,
                                        output.target(), firstFileNumber),
                         ChildProcess::Stream::Pipe, ChildProcess::Stream::Null);
    FirstFailure failure;
    std::atomic<bool> decoderCut{false}, inputEndedMidFrame{false}, encoderBroke{false}, encoderFed{false};
    auto stopAll = [&] {
        freeInputs.cancel();
        freeOutputs.cancel();
        decoded.cancel();
        rendered.cancel();
        decoderCut = true;
        decoder.kill();
    };
    interrupt::Hook onSignal([&] {
        stopAll();
        encoder.kill();
    });

    std::thread reader([&] {
        std::vector<uint8_t> staging(raw.deep ? frameBytes : 0);
        while (std::optional<refhost::Image*> image = freeInputs.pop()) {
            uint8_t* into = raw.deep ? staging.data() : (*image)->pixels();
            size_t got = 0;
            if (!readAll(decoder.stdoutFd(), into, frameBytes, &got)) {
                if (got != 0) inputEndedMidFrame = true;
                break;
            }
            if (raw.deep) unpackFrame(staging.data(), raw, **image);
            if (!decoded.push(*image)) break;
        }
        decoded.close();
    });
    std::thread writer([&] {
        std::vector<uint8_t> staging(raw.deep ? frameBytes : 0);
        while (std::optional<refhost::Image*> image = rendered.pop()) {
            if (raw.deep) packFrame(**image, raw, staging.data());
            const uint8_t* from = raw.deep ? staging.data() : (*image)->pixels();
            if (!writeAll(encoder.stdinFd(), from, frameBytes)) {
                encoderBroke = true;  // its own message is read once it has ended
                stopAll();
                break;
            }
            encoderFed = true;
            if (!freeOutputs.push(*image)) break;
        }
        encoder.closeStdin();
    });

    // Should anything below throw, the threads are stopped and joined before they go away.
    struct JoinOnExit {
        std::function<void()> stop;
        ~JoinOnExit() { stop(); }
    } joinOnExit{[&] {
        if (!reader.joinable() && !writer.joinable()) return;
        stopAll();
        encoder.kill();
        if (reader.joinable()) reader.join();
        if (writer.joinable()) writer.join();
    }};

    Progress progress(!o.quiet, expected);
    int64_t done = 0;
    double pluginSeconds = 0;
    const auto began = std::chrono::steady_clock::now();
    while (std::optional<refhost::Image*> input = decoded.pop()) {
        std::optional<refhost::Image*> out = freeOutputs.pop();
        if (!out) break;
        refhost::RenderCall call;
        call.frame = int32_t(first + done);
        call.time = double(call.frame);
        call.scale[0] = call.scale[2] = scaleNum;
        call.scale[1] = call.scale[3] = scaleDen;
        const auto t0 = std::chrono::steady_clock::now();
        const ACFRESULT status = effect->render(**input, **out, call);
        pluginSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (status != ACF_OK) {
            failure.set(Exit::RenderFailed, "frame " + std::to_string(call.frame) + ": the plug-in rejected the frame (status " +
                                                hexStatus(status) + ")");
            stopAll();
            break;
        }
        freeInputs.push(*input);
        if (!rendered.push(*out)) break;
        progress.update(++done);
    }
    rendered.close();
    reader.join();
    writer.join();
    progress.finish();
    const int decoderStatus = decoder.wait();
    const int encoderStatus = encoder.wait();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    if (interrupt::requested())
        throw Failure(Exit::Interrupted, std::string("interrupted (") + strsignal(interrupt::signalNumber()) + "); " +
                                             o.output + " was not written");
    // Causes before consequences. An encoder that quit while it was fed, or failed after it
    // took frames, failed on its own: trouble with the input only ends its input early. What
    // the decoder did once it was cut off (a frame half read) is a consequence.
    failure.rethrow();
    const auto trouble = encoderTrouble(encoderStatus, encoder.errorText(), encoder.reason("it stopped"), o.output);
    if (encoderBroke || (encoderFed && trouble))
        throw Failure(Exit::RenderFailed, trouble ? *trouble : "ffmpeg stopped taking frames for " + o.output);
    if (!decoderCut && decoderStatus != 0)
        throw Failure(Exit::Input, "cannot decode " + o.input + ": " + decoder.reason("ffmpeg stopped"));
    if (!decoderCut && inputEndedMidFrame) throw Failure(Exit::Input, o.input + " ended in the middle of a frame");
    // Without an exact frame count a range outside the input shows only now.
    if (done == 0 && (o.frames.first || o.frames.last))
        throw Failure(Exit::Usage, asked + " is outside the input, which has " + inputFrames);
    if (done == 0) throw Failure(Exit::Input, o.input + ": no frames to render");
    if (trouble) throw Failure(Exit::RenderFailed, *trouble);

    output.commit();
    if (!o.quiet) {
        const std::string took = seconds < 60 ? std::to_string(int(seconds * 10 + 0.5) / 10) + "." +
                                                    std::to_string(int(seconds * 10 + 0.5) % 10) + " s"
                                              : formatDuration(seconds);
        std::fprintf(stderr, "tarnix: wrote %s: %lld frame%s of %dx%d at %s fps, %d-bit, in %s (%.1f fps; the plug-in alone %.1f fps)\n",
                     o.output.c_str(), (long long)done, done == 1 ? "" : "s", width, height,
                     rateText(source.frameRate).c_str(), raw.deep ? 16 : 8, took.c_str(),
                     seconds > 0 ? double(done) / seconds : 0.0, pluginSeconds > 0 ? double(done) / pluginSeconds : 0.0);
    }
}

}  // namespace tarnix
