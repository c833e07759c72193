#include "apps/tarnix/Demo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "apps/tarnix/Failure.h"
#include "apps/tarnix/Interrupt.h"
#include "apps/tarnix/Media.h"
#include "apps/tarnix/ModuleHost.h"
#include "apps/tarnix/PixelPacking.h"
#include "apps/tarnix/Presets.h"
#include "apps/tarnix/Process.h"
#include "apps/tarnix/Progress.h"
#include "apps/tarnix/SafeOutput.h"
#include "apps/tarnix/SyntheticClip.h"

namespace tarnix {

namespace {

constexpr int kDemoRate = 24;
constexpr int kSheetRows = 4;
constexpr int kMargin = 8;
constexpr int kHeader = 26;

// A 5 x 7 pixel font for the sheet's few labels.
struct Glyph {
    char c;
    uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'A', {14, 17, 17, 31, 17, 17, 17}}, {'B', {30, 17, 17, 30, 17, 17, 30}}, {'E', {31, 16, 16, 30, 16, 16, 31}},
    {'F', {31, 16, 16, 30, 16, 16, 16}}, {'M', {17, 27, 21, 21, 17, 17, 17}}, {'O', {14, 17, 17, 17, 17, 17, 14}},
    {'R', {30, 17, 17, 30, 20, 18, 17}}, {'T', {31, 4, 4, 4, 4, 4, 4}},       {'0', {14, 17, 19, 21, 25, 17, 14}},
    {'1', {4, 12, 4, 4, 4, 4, 14}},      {'2', {14, 17, 1, 2, 4, 8, 31}},     {'3', {30, 1, 1, 14, 1, 1, 30}},
    {'4', {2, 6, 10, 18, 31, 2, 2}},     {'5', {31, 16, 30, 1, 1, 17, 14}},   {'6', {6, 8, 16, 30, 17, 17, 14}},
    {'7', {31, 1, 2, 4, 8, 8, 8}},       {'8', {14, 17, 17, 14, 17, 17, 14}}, {'9', {14, 17, 17, 15, 1, 2, 12}},
};

void drawText(refhost::Image& image, int x, int y, const std::string& text, int size, uint32_t grey) {
    for (char ch : text) {
        for (const Glyph& g : kGlyphs) {
            if (g.c != ch) continue;
            for (int row = 0; row < 7; ++row)
                for (int col = 0; col < 5; ++col) {
                    if (!(g.rows[row] & (16 >> col))) continue;
                    for (int dy = 0; dy < size; ++dy)
                        for (int dx = 0; dx < size; ++dx) {
                            const int px = x + col * size + dx, py = y + row * size + dy;
                            if (px < 0 || py < 0 || px >= int(image.shape().width) || py >= int(image.shape().height)) continue;
                            for (int c = 1; c < 4; ++c) image.setChannel(uint32_t(px), uint32_t(py), c, grey);
                        }
                }
        }
        x += 6 * size;
    }
}

// Half size by averaging 2 x 2 blocks, into `sheet` at (left, top).
void placeThumbnail(const refhost::Image& frame, refhost::Image& sheet, int left, int top) {
    const uint32_t w = frame.shape().width / 2, h = frame.shape().height / 2;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) {
                const uint32_t sum = frame.channel(2 * x, 2 * y, c) + frame.channel(2 * x + 1, 2 * y, c) +
                                     frame.channel(2 * x, 2 * y + 1, c) + frame.channel(2 * x + 1, 2 * y + 1, c);
                sheet.setChannel(uint32_t(left) + x, uint32_t(top) + y, c, (sum + 2) / 4);
            }
}

void makeDirectory(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::create_directories(path, error) && error)
        throw Failure(Exit::Output, "cannot make the folder " + path + ": " + std::strerror(error.value()));
}

// Encodes 8-bit frames through ffmpeg into a file that appears only when it is complete.
class FrameWriter {
public:
    FrameWriter(const Tools& tools, const std::string& path, int width, int height)
        : mPlan(planOutput(path, rgbSource(width, height), RawFormat{}, width, height, {})),
          mOutput(mPlan, true),
          mEncoder(encoderCommand(tools, mPlan, nullptr, RawFormat{}, width, height, {kDemoRate, 1}, {}, mOutput.target(), 0),
                   ChildProcess::Stream::Pipe, ChildProcess::Stream::Null),
          mHook([this] { mEncoder.kill(); }) {}

    void write(refhost::Image& frame) {
        std::vector<uint8_t> raw(rawFrameBytes(RawFormat{}, int(frame.shape().width), int(frame.shape().height)));
        packFrame(frame, RawFormat{}, raw.data());
        if (!writeAll(mEncoder.stdinFd(), raw.data(), raw.size())) mBroken = true;
    }
    void finish() {
        mEncoder.closeStdin();
        const int status = mEncoder.wait();
        if (interrupt::requested()) throw Failure(Exit::Interrupted, "interrupted; the demo was not written");
        if (auto trouble = encoderTrouble(status, mEncoder.errorText(), mEncoder.reason("it stopped"), mPlan.path))
            throw Failure(Exit::RenderFailed, *trouble);
        if (mBroken) throw Failure(Exit::RenderFailed, "ffmpeg stopped taking frames for " + mPlan.path);
        mOutput.commit();
    }

private:
    static SourceInfo rgbSource(int width, int height) {
        SourceInfo s;
        s.width = width;
        s.height = height;
        s.frameRate = {kDemoRate, 1};
        return s;
    }
    OutputPlan mPlan;
    SafeOutput mOutput;
    ChildProcess mEncoder;
    interrupt::Hook mHook;
    bool mBroken = false;
};

}  // namespace

void runDemo(const DemoOptions& o) {
    ModuleHost host(o.module);
    const Tools tools = Tools::locate();
    makeDirectory(o.directory);
    const std::string videoPath = o.directory + "/demo.mp4", sheetPath = o.directory + "/demo-contact.png";

    std::unique_ptr<refhost::EffectInstance> effect = host.newEffect();
    for (const Setting& s : loadPreset(host.catalog(), kHeavyPreset)) applySetting(s, *effect);

    const SyntheticClip clip(o.width, o.height, o.frames);
    refhost::ImageSpec shape;
    shape.width = uint32_t(o.width);
    shape.height = uint32_t(o.height);
    shape.layout = refhost::PixelLayout::BGRA8;
    AcfPtr<refhost::Image> before(new refhost::Image(shape)), after(new refhost::Image(shape));
    refhost::ImageSpec pairShape = shape;
    pairShape.width = shape.width * 2;
    AcfPtr<refhost::Image> pair(new refhost::Image(pairShape));

    const int thumbW = o.width / 2, thumbH = o.height / 2;
    refhost::ImageSpec sheetShape = shape;
    sheetShape.width = uint32_t(3 * kMargin + 2 * thumbW);
    sheetShape.height = uint32_t(kHeader + kMargin + kSheetRows * (thumbH + kMargin));
    AcfPtr<refhost::Image> sheet(new refhost::Image(sheetShape));
    sheet->fill(255, 24, 24, 24);
    drawText(*sheet.get(), kMargin, 8, "BEFORE", 2, 200);
    drawText(*sheet.get(), 2 * kMargin + thumbW, 8, "AFTER", 2, 200);

    FrameWriter video(tools, videoPath, int(pairShape.width), o.height);
    Progress progress(!o.quiet, o.frames);
    int sheetRow = 0;
    for (int i = 0; i < o.frames; ++i) {
        if (interrupt::requested()) throw Failure(Exit::Interrupted, "interrupted; the demo was not written");
        clip.render(i, *before.get());
        refhost::RenderCall call;
        call.frame = i;
        call.time = double(i);
        if (const ACFRESULT r = effect->render(*before.get(), *after.get(), call); r != ACF_OK)
            throw Failure(Exit::RenderFailed, "frame " + std::to_string(i) + ": the plug-in rejected the frame (status " +
                                                  std::to_string(r) + ")");
        for (uint32_t y = 0; y < shape.height; ++y) {
            std::memcpy(pair->row(y), before->row(y), size_t(o.width) * 4);
            std::memcpy(pair->row(y) + size_t(o.width) * 4, after->row(y), size_t(o.width) * 4);
        }
        video.write(*pair.get());
        // Evenly spread rows, the last frame included.
        if (sheetRow < kSheetRows && i == sheetRow * (o.frames - 1) / (kSheetRows - 1)) {
            const int top = kHeader + kMargin + sheetRow * (thumbH + kMargin);
            placeThumbnail(*before.get(), *sheet.get(), kMargin, top);
            placeThumbnail(*after.get(), *sheet.get(), 2 * kMargin + thumbW, top);
            drawText(*sheet.get(), kMargin + 6, top + 6, "FRAME " + std::to_string(i), 1, 235);
            ++sheetRow;
        }
        progress.update(i + 1);
    }
    progress.finish();
    video.finish();

    FrameWriter contact(tools, sheetPath, int(sheetShape.width), int(sheetShape.height));
    contact.write(*sheet.get());
    contact.finish();
    std::printf("%s\n%s\n", videoPath.c_str(), sheetPath.c_str());
}

}  // namespace tarnix
