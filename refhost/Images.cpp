#include "refhost/Images.h"

#include <cstring>

namespace refhost {

ACFRESULT ImageFormat::GetColorSpace(int32_t* colorSpace) {
    if (ACFRESULT r = hostCallHook()) return r;
    *colorSpace = mColorSpace;
    return ACF_OK;
}
ACFRESULT ImageFormat::GetChannelCount(int32_t* channels) {
    if (ACFRESULT r = hostCallHook()) return r;
    *channels = mChannels;
    return ACF_OK;
}
ACFRESULT ImageFormat::GetComponentSize(int32_t* sizeCode) {
    if (ACFRESULT r = hostCallHook()) return r;
    *sizeCode = mComponentSize;
    return ACF_OK;
}
ACFRESULT ImageFormat::GetChannelOrder(int32_t query, int32_t* order) {
    if (ACFRESULT r = hostCallHook()) return r;
    if (query != 3 && query != 4) return ACF_E_INVALIDARG;
    *order = mOrder;
    return ACF_OK;
}

Image::Image(const ImageSpec& shape) : mSpec(shape) {
    const size_t body = size_t(rowBytes()) * shape.height;
    mStorage.assign(body + 2 * kGuardBytes, kGuardValue);
    if (shape.width > 0)
        for (uint32_t y = 0; y < shape.height; ++y) std::memset(row(y), 0, size_t(shape.width) * size_t(bytesPerPixel()));
}

ACFRESULT Image::GetWidth(uint32_t* width) {
    if (ACFRESULT r = hostCallHook()) return r;
    *width = mSpec.width;
    return ACF_OK;
}
ACFRESULT Image::GetHeight(uint32_t* height) {
    if (ACFRESULT r = hostCallHook()) return r;
    *height = mSpec.height;
    return ACF_OK;
}
ACFRESULT Image::GetFieldLayout(uint32_t* layout) {
    if (ACFRESULT r = hostCallHook()) return r;
    *layout = mSpec.fieldLayout;
    return ACF_OK;
}
ACFRESULT Image::GetFormat(IAVXImageFormat** format) {
    if (!format) return ACF_E_POINTER;
    if (ACFRESULT r = hostCallHook()) return r;
    *format = new ImageFormat(mSpec.colorSpace, mSpec.channels, is16Bit() ? AVX_COMPONENT_16BIT : AVX_COMPONENT_8BIT,
                              isBGRA() ? AVX_ORDER_BGRA : AVX_ORDER_ARGB);
    return ACF_OK;
}
ACFRESULT Image::GetPixels(int32_t fieldStart, void** out) {
    if (ACFRESULT r = hostCallHook()) return r;
    if (fieldStart < 0 || uint32_t(fieldStart) > mSpec.height) return ACF_E_INVALIDARG;
    *out = row(uint32_t(fieldStart));
    return ACF_OK;
}
ACFRESULT Image::GetRowStride(int32_t* rowBytes_) {
    if (ACFRESULT r = hostCallHook()) return r;
    *rowBytes_ = rowBytes();
    return ACF_OK;
}
ACFRESULT Image::GetPixelAspect(float* aspect) {
    if (ACFRESULT r = hostCallHook()) return r;
    *aspect = mSpec.pixelAspect;
    return ACF_OK;
}

size_t Image::channelOffset(uint32_t x, uint32_t y, int c) const {
    // c: 0 A, 1 R, 2 G, 3 B; BGRA stores B, G, R, A.
    const int position = isBGRA() ? 3 - c : c;
    const size_t size = is16Bit() ? 2 : 1;
    return kGuardBytes + size_t(y) * size_t(rowBytes()) + size_t(x) * size_t(bytesPerPixel()) + size_t(position) * size;
}

uint32_t Image::channel(uint32_t x, uint32_t y, int c) const {
    const size_t at = channelOffset(x, y, c);
    if (is16Bit()) {
        uint16_t v;
        std::memcpy(&v, &mStorage[at], 2);
        return v;
    }
    return mStorage[at];
}

void Image::setChannel(uint32_t x, uint32_t y, int c, uint32_t value) {
    const size_t at = channelOffset(x, y, c);
    if (is16Bit()) {
        const uint16_t v = uint16_t(value);
        std::memcpy(&mStorage[at], &v, 2);
    } else {
        mStorage[at] = uint8_t(value);
    }
}

void Image::fill(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    for (uint32_t y = 0; y < mSpec.height; ++y)
        for (uint32_t x = 0; x < mSpec.width; ++x) {
            setChannel(x, y, 0, a);
            setChannel(x, y, 1, r);
            setChannel(x, y, 2, g);
            setChannel(x, y, 3, b);
        }
}

void Image::fillRandom(uint32_t seed) {
    uint32_t s = seed * 2654435761u + 1;
    for (uint32_t y = 0; y < mSpec.height; ++y)
        for (uint32_t x = 0; x < mSpec.width; ++x)
            for (int c = 0; c < 4; ++c) {
                s = s * 1664525u + 1013904223u;
                setChannel(x, y, c, (s >> 8) % (white() + 1));
            }
}

namespace {

// True when n bytes at p all hold the guard value. The fuzzer checks every image after every
// render, so this must cost less than a small render: differences are gathered without an early
// exit, which lets the loop run in vectors, and memcmp is avoided because the fuzzer's hook on
// it records every call.
bool allGuard(const uint8_t* p, size_t n, uint8_t guard) {
    constexpr size_t kBlock = 256;
    for (size_t k; n > 0; p += k, n -= k) {
        k = n < kBlock ? n : kBlock;
        uint8_t differ = 0;
        for (size_t i = 0; i < k; ++i) differ |= uint8_t(p[i] ^ guard);
        if (differ) return false;
    }
    return true;
}

}  // namespace

bool Image::guardsIntact() const {
    if (!allGuard(mStorage.data(), kGuardBytes, kGuardValue) ||
        !allGuard(mStorage.data() + mStorage.size() - kGuardBytes, kGuardBytes, kGuardValue))
        return false;
    const size_t used = size_t(mSpec.width) * size_t(bytesPerPixel()), stride = size_t(rowBytes());
    if (stride <= used) return true;
    for (uint32_t y = 0; y < mSpec.height; ++y)
        if (!allGuard(pixels() + size_t(y) * stride + used, stride - used, kGuardValue)) return false;
    return true;
}

bool Image::samePixels(const Image& other) const {
    if (other.mSpec.width != mSpec.width || other.mSpec.height != mSpec.height ||
        other.mSpec.layout != mSpec.layout)
        return false;
    const size_t used = size_t(mSpec.width) * size_t(bytesPerPixel());
    for (uint32_t y = 0; y < mSpec.height; ++y)
        if (std::memcmp(pixels() + size_t(y) * size_t(rowBytes()), other.pixels() + size_t(y) * size_t(other.rowBytes()),
                        used) != 0)
            return false;
    return true;
}

ACFRESULT ImageSource::GetImage(int32_t index, const acfUID& classId, const acfUID& iid, void** out) {
    if (!out) return ACF_E_POINTER;
    *out = nullptr;
    if (ACFRESULT r = hostCallHook()) return r;
    if (index != 0 || classId != CLSID_HostImage) return ACF_E_INVALIDARG;
    return mImage->QueryInterface(iid, out);
}

}  // namespace refhost
