#include "apps/tarnix/PixelPacking.h"

#include <array>
#include <cstring>

namespace tarnix {

namespace {

// Tables instead of a division per sample.
const std::array<uint16_t, 65536>& toPluginTable() {
    static const auto table = [] {
        std::array<uint16_t, 65536> t{};
        for (uint32_t v = 0; v < t.size(); ++v) t[v] = toPluginRange(v);
        return t;
    }();
    return table;
}

const std::array<uint16_t, 65536>& fromPluginTable() {
    static const auto table = [] {
        std::array<uint16_t, 65536> t{};
        for (uint32_t p = 0; p < t.size(); ++p) t[p] = fromPluginRange(p);
        return t;
    }();
    return table;
}

// Where each channel of a raw 16-bit RGBA pixel goes in the image.
constexpr int kRgbaToBgra[4] = {2, 1, 0, 3};
constexpr int kRgbaToArgb[4] = {1, 2, 3, 0};

}  // namespace

refhost::PixelLayout layoutFor(const RawFormat& raw) {
    using refhost::PixelLayout;
    return raw.deep ? (raw.bgra ? PixelLayout::BGRA16 : PixelLayout::ARGB16)
                    : (raw.bgra ? PixelLayout::BGRA8 : PixelLayout::ARGB8);
}

size_t rawFrameBytes(const RawFormat& raw, int width, int height) {
    return size_t(width) * size_t(height) * raw.bytesPerPixel();
}

void unpackFrame(const uint8_t* raw, const RawFormat& format, refhost::Image& image) {
    const uint32_t width = image.shape().width, height = image.shape().height;
    const size_t rawRow = size_t(width) * format.bytesPerPixel();
    if (!format.deep) {
        for (uint32_t y = 0; y < height; ++y) std::memcpy(image.row(y), raw + y * rawRow, rawRow);
        return;
    }
    const auto& table = toPluginTable();
    const int* place = format.bgra ? kRgbaToBgra : kRgbaToArgb;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = raw + y * rawRow;
        auto* out = reinterpret_cast<uint16_t*>(image.row(y));
        for (uint32_t x = 0; x < width; ++x, in += 8, out += 4)
            for (int c = 0; c < 4; ++c) {
                uint16_t v;
                std::memcpy(&v, in + 2 * c, 2);
                out[place[c]] = table[v];
            }
    }
}

void packFrame(const refhost::Image& image, const RawFormat& format, uint8_t* raw) {
    const uint32_t width = image.shape().width, height = image.shape().height;
    const size_t rawRow = size_t(width) * format.bytesPerPixel();
    auto& source = const_cast<refhost::Image&>(image);  // row() is not const; nothing is written
    if (!format.deep) {
        for (uint32_t y = 0; y < height; ++y) std::memcpy(raw + y * rawRow, source.row(y), rawRow);
        return;
    }
    const auto& table = fromPluginTable();
    const int* place = format.bgra ? kRgbaToBgra : kRgbaToArgb;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* out = raw + y * rawRow;
        const auto* in = reinterpret_cast<const uint16_t*>(source.row(y));
        for (uint32_t x = 0; x < width; ++x, in += 4, out += 8)
            for (int c = 0; c < 4; ++c) {
                const uint16_t v = table[in[place[c]]];
                std::memcpy(out + 2 * c, &v, 2);
            }
    }
}

}  // namespace tarnix
