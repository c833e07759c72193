// Bitmap resources of the module, decoded from the BMP files the program carries into the rows
// Windows would give for them: what the system's GDI does, quirks included, for the three
// storage forms the module uses (8-bit palettised, RLE8, 24-bit; bottom-up).
#include "platform.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace platform {

// One bitmap of the table that cmake/Bitmaps.cmake assembles: the BMP file whole.
struct EmbeddedBitmap {
    int32_t id;
    uint32_t size;
    const uint8_t* file;
};

}  // namespace platform

// The table, ended by id 0. Weak: programs that carry no bitmaps (the reference host, tarnix,
// most tests) link without one and find none.
extern "C" const platform::EmbeddedBitmap tarnix_embedded_bitmaps[] __attribute__((weak, visibility("hidden")));

namespace platform {
namespace {

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

constexpr uint32_t kUncompressed = 0;  // BI_RGB
constexpr uint32_t kRle8 = 1;          // BI_RLE8

// What a bitmap resource holds: the header, the colour table and the pixels right after it.
// A resource has no file header, so the file's own pixel offset plays no part.
struct Dib {
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitsPerPixel = 0;
    uint32_t compression = 0;
    const uint8_t* colours = nullptr;
    uint32_t colourCount = 0;
    const uint8_t* pixels = nullptr;
    size_t pixelBytes = 0;
};

bool parse(const uint8_t* file, size_t size, Dib& dib) {
    constexpr size_t kFileHeader = 14, kInfoHeader = 40;
    if (size < kFileHeader + kInfoHeader || file[0] != 'B' || file[1] != 'M') return false;
    const uint8_t* info = file + kFileHeader;
    const size_t available = size - kFileHeader;
    const uint32_t headerBytes = u32(info);
    if (headerBytes < kInfoHeader || headerBytes > available) return false;
    dib.width = int32_t(u32(info + 4));
    dib.height = int32_t(u32(info + 8));
    dib.bitsPerPixel = u16(info + 14);
    dib.compression = u32(info + 16);
    const uint32_t imageBytes = u32(info + 20);
    const uint32_t coloursUsed = u32(info + 32);
    if (dib.width <= 0 || dib.height <= 0 || u16(info + 12) != 1) return false;
    const bool palettised = dib.bitsPerPixel == 8 && (dib.compression == kUncompressed || dib.compression == kRle8);
    const bool trueColour = dib.bitsPerPixel == 24 && dib.compression == kUncompressed;
    if (!palettised && !trueColour) return false;
    // A colour table of at most 256 entries; none given means all 256 for 8 bits.
    dib.colourCount = std::min<uint32_t>(coloursUsed, 256);
    if (dib.colourCount == 0 && palettised) dib.colourCount = 256;
    const size_t tableBytes = size_t(dib.colourCount) * 4;
    if (tableBytes > available - headerBytes) return false;
    dib.colours = info + headerBytes;
    dib.pixels = dib.colours + tableBytes;
    dib.pixelBytes = available - headerBytes - tableBytes;
    if (dib.compression == kRle8) {
        // The stream ends where the header says, when it says so within the data.
        if (imageBytes != 0) dib.pixelBytes = std::min<size_t>(dib.pixelBytes, imageBytes);
    } else {
        const size_t stride = (size_t(dib.width) * dib.bitsPerPixel + 31) / 32 * 4;
        if (stride * size_t(dib.height) > dib.pixelBytes) return false;
    }
    return true;
}

// Every index's pixel as the four bytes B, G, R, 0; an index past the table is black.
struct Palette {
    uint32_t pixel[256] = {};
    explicit Palette(const Dib& dib) {
        for (uint32_t i = 0; i < dib.colourCount; ++i) {
            const uint8_t* c = dib.colours + 4 * size_t(i);
            const uint8_t bytes[4] = {c[0], c[1], c[2], 0};
            std::memcpy(&pixel[i], bytes, 4);
        }
    }
    void put(uint8_t index, uint8_t* out) const { std::memcpy(out, &pixel[index], 4); }
};

void expandUncompressed(const Dib& dib, uint8_t* rows) {
    const size_t stride = (size_t(dib.width) * dib.bitsPerPixel + 31) / 32 * 4;
    const Palette palette(dib);
    for (int32_t y = 0; y < dib.height; ++y) {
        const uint8_t* in = dib.pixels + size_t(y) * stride;
        uint8_t* out = rows + size_t(y) * size_t(dib.width) * 4;
        if (dib.bitsPerPixel == 8) {
            for (int32_t x = 0; x < dib.width; ++x, out += 4) palette.put(in[x], out);
            continue;
        }
        for (int32_t x = 0; x < dib.width; ++x, out += 4) {
            out[0] = in[3 * x];
            out[1] = in[3 * x + 1];
            out[2] = in[3 * x + 2];
        }
    }
}

// RLE8 as GDI draws it. Pixels the stream skips (deltas, early ends of line) stay black, and
// runs past the row end are cut there. A row's pixels are drawn once an end of line, a delta or
// the end of bitmap follows them: those after the last of these are dropped when the data ends
// first, or breaks off inside an escape.
void expandRle8(const Dib& dib, uint8_t* rows) {
    const uint8_t* data = dib.pixels;
    const size_t size = dib.pixelBytes;
    const int32_t width = dib.width;
    const Palette palette(dib);
    int32_t x = 0, y = 0;  // y counts from the bottom row, as stored
    int32_t spanStart = 0;
    auto pixel = [&](int32_t column) { return rows + (size_t(y) * size_t(width) + size_t(column)) * 4; };
    size_t i = 0;
    while (i + 1 < size) {
        const uint8_t count = data[i], value = data[i + 1];
        i += 2;
        if (count > 0) {
            for (int32_t n = 0; n < count && x + n < width; ++n) palette.put(value, pixel(x + n));
            x = std::min(x + count, width);
            continue;
        }
        if (value == 0) {  // end of line
            x = spanStart = 0;
            if (++y >= dib.height) return;
        } else if (value == 1) {  // end of bitmap
            return;
        } else if (value == 2) {  // delta: move right and up
            if (i + 1 >= size) break;
            x = std::min(x + data[i], width);
            y += data[i + 1];
            i += 2;
            spanStart = x;
            if (y >= dib.height) return;
        } else {  // absolute run of `value` indices, padded to a whole word
            if (size - i < value) break;
            for (int32_t n = 0; n < value && x + n < width; ++n) palette.put(data[i + n], pixel(x + n));
            x = std::min(x + int32_t(value), width);
            i += value + (value & 1);
        }
    }
    if (x > spanStart) std::memset(pixel(spanStart), 0, size_t(x - spanStart) * 4);
}

const EmbeddedBitmap* findBitmap(int32_t id) {
    if (!tarnix_embedded_bitmaps) return nullptr;
    for (const EmbeddedBitmap* b = tarnix_embedded_bitmaps; b->id != 0; ++b)
        if (b->id == id) return b;
    return nullptr;
}

}  // namespace

bool decodeBitmap(int32_t resourceId, int32_t expectedWidth, int32_t expectedHeight, void* /*deviceWindow*/,
                  BitmapRows& bitmap) {
    releaseBitmap(bitmap);
    if (resourceId < 1 || resourceId > 0xFFFF) return false;
    const EmbeddedBitmap* embedded = findBitmap(resourceId);
    Dib dib;
    if (!embedded || !parse(embedded->file, embedded->size, dib)) return false;
    bitmap.width = dib.width;
    bitmap.height = dib.height;
    if (dib.width != expectedWidth || dib.height != expectedHeight) return false;
    // Zeroed: black where nothing is drawn, and the fourth byte 0 as the system gives it.
    auto* rows = static_cast<uint8_t*>(std::calloc(size_t(dib.width) * size_t(dib.height), 4));
    if (!rows) return false;
    if (dib.compression == kRle8)
        expandRle8(dib, rows);
    else
        expandUncompressed(dib, rows);
    bitmap.rows = rows;
    return true;
}

void releaseBitmap(BitmapRows& bitmap) {
    std::free(bitmap.rows);
    bitmap = BitmapRows{};
}

}  // namespace platform
