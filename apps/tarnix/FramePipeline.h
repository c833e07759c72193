// The frames of a render on their way: read from the decoding ffmpeg's pipe by a reader
// thread, rendered on the calling thread, written into the encoding ffmpeg's pipe by a writer
// thread. A fixed pool of images goes round through bounded queues, so the three overlap and
// nothing is allocated per frame. 8-bit frames are read into and written from the images
// themselves; 16-bit ones are converted a cache-sized piece at a time as they arrive and leave,
// and planar ones a plane at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "apps/tarnix/Media.h"
#include "refhost/Images.h"

namespace tarnix {

class ChildProcess;

// Where the render thread's time went, in seconds since the pipeline started.
struct PipelineClock {
    double elapsed = 0;
    double rendering = 0;          // inside the render step
    double waitingForDecoder = 0;  // for a decoded frame
    double waitingForEncoder = 0;  // for the encoder to take a frame and free an image
    double waitingForFfmpeg() const { return waitingForDecoder + waitingForEncoder; }
};

struct PipelineEnd {
    int64_t frames = 0;  // rendered and handed to the encoder
    PipelineClock clock;
    bool decoderCut = false;          // stopped by us, so its status and output mean nothing
    bool inputEndedMidFrame = false;  // the decoder's output ended inside a frame
    bool encoderBroke = false;        // the encoder stopped taking frames
    bool encoderFed = false;          // it took at least one
    std::optional<int64_t> rejectedFrame;  // the index of the frame the render step refused
    int32_t rejectedStatus = 0;
};

// Renders frame `index` (0 for the first one read) of `input` into `output`; nonzero stops the run.
using RenderStep = std::function<int32_t(refhost::Image& input, refhost::Image& output, int64_t index)>;
// After each rendered frame, with the count so far.
using PipelineProgress = std::function<void(int64_t frames, const PipelineClock& clock)>;

// Runs until the decoder's output ends, the render step refuses a frame, the encoder stops
// taking frames or a signal arrives; closes the encoder's input at the end, and kills the
// decoder (and on a signal the encoder) when it stops early.
// The frames cross the pipes as `fromDecoder` and `toEncoder` say, both of the same depth and order.
PipelineEnd runFramePipeline(const RawFormat& fromDecoder, const RawFormat& toEncoder, int width, int height,
                             ChildProcess& decoder, ChildProcess& encoder, const RenderStep& render,
                             const PipelineProgress& progress);

// One frame of raw.ffmpegName() pixels from `fd` into `image`, converted on the way; false at
// the end of the stream, with the bytes of the unfinished frame in `got`. `staging` holds
// kConversionPixels 16-bit samples, for planar frames.
bool readFrame(int fd, const RawFormat& raw, refhost::Image& image, size_t& got, uint8_t* staging);
// `image` converted into raw.ffmpegName() pixels and written to `fd`; `staging` holds
// kConversionPixels pixels for 16-bit and planar frames. False when the reader has gone.
bool writeFrame(int fd, const RawFormat& raw, refhost::Image& image, uint8_t* staging);
// Pixels converted per piece: 256 KiB of 16-bit pixels, which stay in the cache between the
// pipe's copy and the conversion.
constexpr size_t kConversionPixels = 32768;

}  // namespace tarnix
