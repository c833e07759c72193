#include "apps/tarnix/RenderReport.h"

#include <algorithm>
#include <cstdio>

#include "apps/tarnix/Progress.h"

namespace tarnix {

namespace {

std::string hexStatus(int32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(status));
    return text;
}

std::string rateText(const Rational& r) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", r.value());
    return text;
}

}  // namespace

std::optional<Failure> renderFailure(const RenderOptions& o, const RenderPlan& plan, const RenderEnding& e) {
    const PipelineEnd& p = e.pipeline;
    // Causes before consequences. A refused frame stops everything after it. An encoder that
    // quit while it was fed, or failed after it took frames, failed on its own: trouble with
    // the input only ends its input early. What the decoder did once it was cut off (a frame
    // half read) is a consequence.
    if (p.rejectedFrame)
        return Failure(Exit::RenderFailed, "frame " + std::to_string(plan.firstFrame + *p.rejectedFrame) +
                                               ": the plug-in rejected the frame (status " + hexStatus(p.rejectedStatus) + ")");
    const auto trouble = encoderTrouble(e.encoderStatus, e.encoderErrors, e.encoderReason, o.output);
    if (p.encoderBroke || (p.encoderFed && trouble))
        return Failure(Exit::RenderFailed, trouble ? *trouble : "ffmpeg stopped taking frames for " + o.output);
    if (!p.decoderCut && e.decoderStatus != 0) return Failure(Exit::Input, "cannot decode " + o.input + ": " + e.decoderReason);
    if (!p.decoderCut && p.inputEndedMidFrame) return Failure(Exit::Input, o.input + " ended in the middle of a frame");
    // Without an exact frame count a range outside the input shows only now.
    if (p.frames == 0 && (o.frames.first || o.frames.last))
        return Failure(Exit::Usage, plan.asked + " is outside the input, which has " + plan.inputFrames);
    if (p.frames == 0) return Failure(Exit::Input, o.input + ": no frames to render");
    if (trouble) return Failure(Exit::RenderFailed, *trouble);
    return std::nullopt;
}

std::string renderSummary(const RenderOptions& o, const RenderPlan& plan, const Rational& rate, const PipelineEnd& p) {
    const double seconds = p.clock.elapsed;
    const std::string took = seconds < 60 ? std::to_string(int(seconds * 10 + 0.5) / 10) + "." +
                                                std::to_string(int(seconds * 10 + 0.5) % 10) + " s"
                                          : formatDuration(seconds);
    char line[512];
    std::snprintf(line, sizeof line,
                  "wrote %s: %lld frame%s of %dx%d at %s fps, %d-bit, in %s (%.1f fps; the plug-in alone %.1f fps; "
                  "waiting on ffmpeg %d%% of the time)",
                  o.output.c_str(), (long long)p.frames, p.frames == 1 ? "" : "s", plan.width, plan.height,
                  rateText(rate).c_str(), plan.raw.deep ? 16 : 8, took.c_str(), seconds > 0 ? double(p.frames) / seconds : 0.0,
                  p.clock.rendering > 0 ? double(p.frames) / p.clock.rendering : 0.0,
                  seconds > 0 ? int(100.0 * std::min(p.clock.waitingForFfmpeg() / seconds, 1.0) + 0.5) : 0);
    return line;
}

}  // namespace tarnix
