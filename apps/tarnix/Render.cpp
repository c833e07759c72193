#include "apps/tarnix/Render.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "apps/tarnix/Failure.h"
#include "apps/tarnix/FramePipeline.h"
#include "apps/tarnix/Interrupt.h"
#include "apps/tarnix/ModuleHost.h"
#include "apps/tarnix/Presets.h"
#include "apps/tarnix/Process.h"
#include "apps/tarnix/Progress.h"
#include "apps/tarnix/RenderReport.h"
#include "apps/tarnix/SafeOutput.h"

namespace tarnix {

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
    const RenderPlan plan = planRender(o, source);

    SafeOutput output(plan.output, o.overwrite);
    if (!o.quiet && !plan.output.note.empty()) std::fprintf(stderr, "tarnix: note: %s\n", plan.output.note.c_str());

    std::unique_ptr<refhost::EffectInstance> effect = host.newEffect();
    for (const Setting& s : look) applySetting(s, *effect);

    ChildProcess decoder(decoderCommand(tools, source, plan.fromDecoder, plan.range, plan.width, plan.height),
                         ChildProcess::Stream::Null, ChildProcess::Stream::Pipe);
    ChildProcess encoder(encoderCommand(tools, plan.output, &source, plan.toEncoder, plan.width, plan.height, source.frameRate,
                                        plan.range, output.target(), plan.firstFileNumber),
                         ChildProcess::Stream::Pipe, ChildProcess::Stream::Null);

    const auto render = [&](refhost::Image& input, refhost::Image& out, int64_t index) -> int32_t {
        refhost::RenderCall call;
        call.frame = int32_t(plan.firstFrame + index);
        call.time = double(call.frame);
        call.scale[0] = call.scale[2] = plan.scale.first;
        call.scale[1] = call.scale[3] = plan.scale.second;
        return effect->render(input, out, call);
    };
    Progress progress(!o.quiet, plan.expected);
    const auto began = std::chrono::steady_clock::now();
    RenderEnding ending;
    ending.pipeline = runFramePipeline(plan.fromDecoder, plan.toEncoder, plan.width, plan.height, decoder, encoder, render,
                                       [&](int64_t frames, const PipelineClock& clock) {
                                           progress.update(frames, clock.rendering, clock.waitingForFfmpeg());
                                       });
    progress.finish();
    ending.decoderStatus = decoder.wait();
    ending.encoderStatus = encoder.wait();
    // The encoder finishing the file after the last frame is time spent waiting on ffmpeg too.
    PipelineClock& clock = ending.pipeline.clock;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    clock.waitingForEncoder += std::max(0.0, seconds - clock.elapsed);
    clock.elapsed = std::max(seconds, clock.elapsed);

    if (interrupt::requested())
        throw Failure(Exit::Interrupted, std::string("interrupted (") + strsignal(interrupt::signalNumber()) + "); " +
                                             o.output + " was not written");
    ending.decoderReason = decoder.reason("ffmpeg stopped");
    ending.encoderErrors = encoder.errorText();
    ending.encoderReason = encoder.reason("it stopped");
    if (const std::optional<Failure> failure = renderFailure(o, plan, ending)) throw *failure;

    output.commit();
    if (!o.quiet) std::fprintf(stderr, "tarnix: %s\n", renderSummary(o, plan, source.frameRate, ending.pipeline).c_str());
}

}  // namespace tarnix
