#include "apps/tarnix/FramePipeline.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "apps/tarnix/FrameQueue.h"
#include "apps/tarnix/Interrupt.h"
#include "apps/tarnix/PixelPacking.h"
#include "apps/tarnix/Process.h"

namespace tarnix {

namespace {

// Frames in flight between the threads, each way: enough to keep all three busy.
constexpr size_t kFramesInFlight = 3;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// The frame's pixels as runs without gaps: the whole frame when its rows have no padding.
template <class F>
bool forEachRun(refhost::Image& image, F&& run) {
    const size_t width = image.shape().width, height = image.shape().height, pixelBytes = size_t(image.bytesPerPixel());
    if (size_t(image.rowBytes()) == width * pixelBytes) return run(image.pixels(), width * height);
    for (uint32_t y = 0; y < height; ++y)
        if (!run(image.row(y), width)) return false;
    return true;
}

// Every plane of a planar frame in turn, over the image's runs a conversion piece at a time:
// piece(plane, pixels, count), false to stop.
template <class F>
bool forEachPlanePiece(refhost::Image& image, const RawFormat& raw, F&& piece) {
    const size_t pixelBytes = raw.deep ? 8 : 4;
    for (int plane = 0; plane < raw.planeCount(); ++plane) {
        const bool whole = forEachRun(image, [&](uint8_t* pixels, size_t count) {
            for (size_t done = 0; done < count; done += kConversionPixels)
                if (!piece(plane, pixels + done * pixelBytes, std::min(kConversionPixels, count - done))) return false;
            return true;
        });
        if (!whole) return false;
    }
    return true;
}

}  // namespace

bool readFrame(int fd, const RawFormat& raw, refhost::Image& image, size_t& got, uint8_t* staging) {
    got = 0;
    if (raw.planes) {
        // Each plane over the whole frame in turn, laid into its slot of every pixel.
        const size_t sampleBytes = raw.deep ? 2 : 1;
        return forEachPlanePiece(image, raw, [&](int plane, uint8_t* pixels, size_t n) {
            size_t part = 0;
            const bool all = readAll(fd, staging, n * sampleBytes, &part);
            got += part;
            if (all) unpackPlane(staging, raw, plane, pixels, n);
            return all;
        });
    }
    const size_t pixelBytes = raw.bytesPerPixel();
    return forEachRun(image, [&](uint8_t* pixels, size_t count) {
        // 8-bit frames are already in the plug-in's layout: one read loop straight into place.
        const size_t piece = raw.deep ? kConversionPixels : count;
        for (size_t done = 0; done < count; done += piece) {
            const size_t n = std::min(piece, count - done);
            uint8_t* at = pixels + done * pixelBytes;
            size_t part = 0;
            const bool whole = readAll(fd, at, n * pixelBytes, &part);
            got += part;
            if (!whole) return false;
            if (raw.deep) unpackPixels(at, raw, at, n);
        }
        return true;
    });
}

bool writeFrame(int fd, const RawFormat& raw, refhost::Image& image, uint8_t* staging) {
    if (raw.planes) {
        const size_t sampleBytes = raw.deep ? 2 : 1;
        return forEachPlanePiece(image, raw, [&](int plane, uint8_t* pixels, size_t n) {
            packPlane(pixels, raw, plane, staging, n);
            return writeAll(fd, staging, n * sampleBytes);
        });
    }
    const size_t pixelBytes = raw.bytesPerPixel();
    return forEachRun(image, [&](uint8_t* pixels, size_t count) {
        if (!raw.deep) return writeAll(fd, pixels, count * pixelBytes);
        for (size_t done = 0; done < count; done += kConversionPixels) {
            const size_t n = std::min(kConversionPixels, count - done);
            packPixels(pixels + done * pixelBytes, raw, staging, n);
            if (!writeAll(fd, staging, n * pixelBytes)) return false;
        }
        return true;
    });
}

PipelineEnd runFramePipeline(const RawFormat& fromDecoder, const RawFormat& toEncoder, int width, int height,
                             ChildProcess& decoder, ChildProcess& encoder, const RenderStep& render,
                             const PipelineProgress& progress) {
    refhost::ImageSpec shape;
    shape.width = uint32_t(width);
    shape.height = uint32_t(height);
    shape.layout = layoutFor(fromDecoder);
    std::vector<AcfPtr<refhost::Image>> images;
    FrameQueue<refhost::Image*> freeInputs(kFramesInFlight), freeOutputs(kFramesInFlight);
    FrameQueue<refhost::Image*> decoded(kFramesInFlight), rendered(kFramesInFlight);
    for (size_t i = 0; i < 2 * kFramesInFlight; ++i) {
        images.emplace_back(new refhost::Image(shape));
        (i % 2 ? freeOutputs : freeInputs).push(images.back().get());
    }

    PipelineEnd end;
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
        std::vector<uint8_t> staging(fromDecoder.planes ? kConversionPixels * 2 : 0);
        while (std::optional<refhost::Image*> image = freeInputs.pop()) {
            size_t got = 0;
            if (!readFrame(decoder.stdoutFd(), fromDecoder, **image, got, staging.data())) {
                if (got != 0) inputEndedMidFrame = true;
                break;
            }
            if (!decoded.push(*image)) break;
        }
        decoded.close();
    });
    std::thread writer([&] {
        std::vector<uint8_t> staging(toEncoder.deep || toEncoder.planes ? kConversionPixels * 8 : 0);
        while (std::optional<refhost::Image*> image = rendered.pop()) {
            if (!writeFrame(encoder.stdinFd(), toEncoder, **image, staging.data())) {
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

    const Clock::time_point began = Clock::now();
    PipelineClock& clock = end.clock;
    for (;;) {
        Clock::time_point t = Clock::now();
        std::optional<refhost::Image*> input = decoded.pop();
        clock.waitingForDecoder += secondsSince(t);
        if (!input) break;
        t = Clock::now();
        std::optional<refhost::Image*> output = freeOutputs.pop();
        clock.waitingForEncoder += secondsSince(t);
        if (!output) break;
        t = Clock::now();
        const int32_t status = render(**input, **output, end.frames);
        clock.rendering += secondsSince(t);
        if (status != 0) {
            end.rejectedFrame = end.frames;
            end.rejectedStatus = status;
            stopAll();
            break;
        }
        freeInputs.push(*input);
        t = Clock::now();
        const bool handedOver = rendered.push(*output);
        clock.waitingForEncoder += secondsSince(t);
        if (!handedOver) break;
        ++end.frames;
        clock.elapsed = secondsSince(began);
        if (progress) progress(end.frames, clock);
    }
    rendered.close();
    reader.join();
    writer.join();
    clock.elapsed = secondsSince(began);
    end.decoderCut = decoderCut;
    end.inputEndedMidFrame = inputEndedMidFrame;
    end.encoderBroke = encoderBroke;
    end.encoderFed = encoderFed;
    return end;
}

}  // namespace tarnix
