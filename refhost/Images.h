// Host images: the four pixel layouts plus non-RGB and 3-channel ones, rows padded past the
// pixels and guard bytes around the buffer so stride and bounds bugs show.
#pragma once

#include <cstdint>
#include <vector>

#include "refhost/RefObject.h"
#include "sdk/avx_runtime.h"

namespace refhost {

// The four layouts the plug-in renders.
enum class PixelLayout { ARGB8, BGRA8, ARGB16, BGRA16 };

struct ImageSpec {
    uint32_t width = 0;
    uint32_t height = 0;
    PixelLayout layout = PixelLayout::BGRA8;
    int32_t rowPadding = 0;  // bytes past width x bytes per pixel in every row
    int32_t colorSpace = AVX_COLORSPACE_RGB;
    int32_t channels = 4;
    uint32_t fieldLayout = 0;
    float pixelAspect = 1.0f;
};

class ImageFormat final : public RefObject<IAVXImageFormat> {
public:
    ImageFormat(int32_t colorSpace, int32_t channels, int32_t componentSize, int32_t order)
        : mColorSpace(colorSpace), mChannels(channels), mComponentSize(componentSize), mOrder(order) {}
    ACFRESULT GetColorSpace(int32_t* colorSpace) override;
    ACFRESULT GetChannelCount(int32_t* channels) override;
    ACFRESULT GetComponentSize(int32_t* sizeCode) override;
    ACFRESULT GetChannelOrder(int32_t query, int32_t* order) override;

protected:
    bool answers(const acfUID& iid) const override { return iid == IID_IAVXImageFormat; }

private:
    int32_t mColorSpace, mChannels, mComponentSize, mOrder;
};

class Image final : public RefObject<IAVXImage> {
public:
    static constexpr size_t kGuardBytes = 64;
    static constexpr uint8_t kGuardValue = 0xA5;

    explicit Image(const ImageSpec& shape);

    ACFRESULT GetWidth(uint32_t* width) override;
    ACFRESULT GetHeight(uint32_t* height) override;
    ACFRESULT GetFieldLayout(uint32_t* layout) override;
    ACFRESULT GetFormat(IAVXImageFormat** format) override;
    ACFRESULT GetPixels(int32_t fieldStart, void** pixels) override;
    ACFRESULT GetRowStride(int32_t* rowBytes) override;
    ACFRESULT GetPixelAspect(float* aspect) override;

    const ImageSpec& shape() const { return mSpec; }
    int32_t bytesPerPixel() const { return is16Bit() ? 8 : 4; }
    bool is16Bit() const { return mSpec.layout == PixelLayout::ARGB16 || mSpec.layout == PixelLayout::BGRA16; }
    bool isBGRA() const { return mSpec.layout == PixelLayout::BGRA8 || mSpec.layout == PixelLayout::BGRA16; }
    int32_t rowBytes() const { return int32_t(mSpec.width) * bytesPerPixel() + mSpec.rowPadding; }
    uint8_t* pixels() { return mStorage.data() + kGuardBytes; }
    const uint8_t* pixels() const { return mStorage.data() + kGuardBytes; }
    uint8_t* row(uint32_t y) { return pixels() + size_t(y) * size_t(rowBytes()); }

    // Channel access by meaning, whatever the layout: c = 0 A, 1 R, 2 G, 3 B.
    uint32_t channel(uint32_t x, uint32_t y, int c) const;
    void setChannel(uint32_t x, uint32_t y, int c, uint32_t value);
    void fill(uint32_t a, uint32_t r, uint32_t g, uint32_t b);
    void fillRandom(uint32_t seed);  // every channel in 0..white, opaque or not
    uint32_t white() const { return is16Bit() ? 16384 : 255; }

    // Guard bytes and row padding untouched since construction.
    bool guardsIntact() const;
    // Same pixel values (padding ignored).
    bool samePixels(const Image& other) const;

protected:
    bool answers(const acfUID& iid) const override { return iid == IID_IAVXImage; }

private:
    size_t channelOffset(uint32_t x, uint32_t y, int c) const;
    ImageSpec mSpec;
    std::vector<uint8_t> mStorage;
};

// The output object of a render call.
class ImageSource final : public RefObject<IAVXImageSource> {
public:
    explicit ImageSource(Image* image) : mImage(AcfPtr<Image>::share(image)) {}
    ACFRESULT GetImage(int32_t index, const acfUID& classId, const acfUID& iid, void** out) override;
    Image* image() const { return mImage.get(); }

protected:
    bool answers(const acfUID& iid) const override { return iid == IID_IAVXImageSource; }

private:
    AcfPtr<Image> mImage;
};

}  // namespace refhost
