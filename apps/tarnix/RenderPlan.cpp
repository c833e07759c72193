#include "apps/tarnix/RenderPlan.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <regex>

#include "apps/tarnix/Failure.h"

namespace tarnix {

namespace {

std::optional<int64_t> parseFrameNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != 0) throw Failure(Exit::Usage, "--frames: \"" + text + "\" is not a frame number");
    return v;
}

// yuv420p, yuvj422p, yuva444p10le and the like.
bool planarYuv(const std::string& pixelFormat) {
    static const std::regex planar("yuv[aj]?4[0-4][0-4]p(9|10|12|14|16)?(le|be)?");
    return std::regex_match(pixelFormat, planar);
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

std::pair<int32_t, int32_t> proxyScale(double factor) {
    const double rounded = std::round(factor);
    if (std::fabs(factor - rounded) < 1e-9) return {1, int32_t(rounded)};
    const int32_t den = int32_t(std::lround(factor * 1000.0));
    const int32_t g = std::gcd(1000, den);
    return {1000 / g, den / g};
}

RenderPlan planRender(const RenderOptions& o, const SourceInfo& source) {
    RenderPlan plan;
    plan.raw.deep = o.depth ? *o.depth == 16 : source.bitDepth > 8;
    plan.raw.bgra = o.bgra;
    plan.width = std::max(1, int(std::lround(source.width / o.proxy)));
    plan.height = std::max(1, int(std::lround(source.height / o.proxy)));
    plan.scale = proxyScale(o.proxy);

    // Frame numbers: the first frame of INPUT is `start`; keys and seeds follow them.
    const int64_t start = o.startFrame.value_or(source.sequence ? source.sequenceStart : 0);
    const int64_t first = o.frames.first.value_or(start);
    const int64_t last = o.frames.last.value_or(INT64_MAX);
    plan.inputFrames = source.frameCount < 0 ? "frames from " + std::to_string(start)
                                             : "frames " + std::to_string(start) + " to " +
                                                   (source.frameCountExact ? "" : "about ") +
                                                   std::to_string(start + source.frameCount - 1);
    plan.asked = "--frames " + (o.frames.first ? std::to_string(*o.frames.first) : "") + ":" +
                 (o.frames.last ? std::to_string(*o.frames.last) : "");
    if (last < std::max(first, start) || (source.frameCountExact && first >= start + source.frameCount))
        throw Failure(Exit::Usage, plan.asked + " is outside the input, which has " + plan.inputFrames);
    if (first < start) throw Failure(Exit::Usage, plan.asked + " starts before the input, which has " + plan.inputFrames);
    plan.firstFrame = first;
    plan.range.first = first - start;
    if (o.frames.last) plan.range.count = last - first + 1;

    plan.output = planOutput(o.output, source, plan.raw, plan.width, plan.height, o.encode);
    // Frames cross as planes where ffmpeg gives the same samples that way: from planar YUV
    // sources (not from semi-planar ones such as p010le, which come out otherwise at 8 bits),
    // and at 16 bits into every output but raw video, which keeps the pipe's layout. 8-bit
    // frames leave as they are, which is what the encoders' conversions take fastest.
    plan.fromDecoder = plan.toEncoder = plan.raw;
    plan.fromDecoder.planes = planarYuv(source.pixelFormat);
    plan.toEncoder.planes = plan.raw.deep && !plan.output.keepsPipeLayout;
    plan.fromDecoder.alpha = plan.toEncoder.alpha = source.alpha;
    if (plan.output.image && !plan.output.sequence) {
        const int64_t available = source.frameCount < 0 ? -1 : source.frameCount - plan.range.first;
        if (plan.range.count < 0 && available == 1) plan.range.count = 1;
        if (plan.range.count != 1)
            throw Failure(Exit::Usage, o.output + " is one image but the input has " +
                                           (available > 0 ? std::to_string(available) : std::string("several")) +
                                           " frames; name a sequence such as out_%04d.png or pick one with --frames N");
    }
    plan.expected = plan.range.count >= 0 ? plan.range.count
                                          : (source.frameCount >= 0 ? source.frameCount - plan.range.first : -1);
    // Files of an output sequence take the numbers of the input frames they come from, whatever
    // --start-frame says: a sequence's own numbers, a video's counted from 0.
    plan.firstFileNumber = (source.sequence ? source.sequenceStart : 0) + plan.range.first;
    return plan;
}

}  // namespace tarnix
