// Bitmap resources as 32-bit rows, read by the system on Windows and by the POSIX decoder:
// both must give a plain reading of the uncompressed files and, for RLE8 and the system's
// quirks, the grids worked by hand from make_test_bitmaps.py's byte streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "platform.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

// The ids tests/CMakeLists.txt gives the files.
enum : int32_t {
    kPal8Odd = 101,
    kPal8Wide = 102,
    kRgb24Odd = 103,
    kRgb24Wide = 104,
    kPal8ShortPalette = 105,
    kPal8Gap = 106,
    kRle8Escapes = 107,
    kRle8Clipped = 108,
    kRle8Unterminated = 109,
    kRle8Truncated = 110,
    kRle8Random = 111,
};

std::vector<uint8_t> readFile(const std::string& name) {
    std::ifstream in(std::string(TARNIX_TEST_BITMAPS) + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 | uint32_t(b.at(at + 3)) << 24;
}

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rows;  // B, G, R, 0 per pixel, bottom row first
    bool operator==(const Picture&) const = default;
};

void PrintTo(const Picture& p, std::ostream* os) {
    *os << p.width << " x " << p.height << ":";
    for (size_t i = 0; i < p.rows.size(); i += 4) {
        if (p.width > 0 && (i / 4) % size_t(p.width) == 0) *os << "\n   ";
        char pixel[10];
        std::snprintf(pixel, sizeof pixel, " %02x%02x%02x%02x", p.rows[i], p.rows[i + 1], p.rows[i + 2], p.rows[i + 3]);
        *os << pixel;
    }
}

// An uncompressed 8-bit or 24-bit file read the plain way: rows padded to 4 bytes, colours
// through the table after the 40-byte header.
Picture plainReading(const std::vector<uint8_t>& file) {
    Picture p;
    const uint32_t offset = le32(file, 10);
    p.width = int32_t(le32(file, 18));
    p.height = int32_t(le32(file, 22));
    const int bits = file.at(28);
    const size_t stride = (size_t(p.width) * size_t(bits) / 8 + 3) / 4 * 4;
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x) {
            const size_t at = offset + size_t(y) * stride + size_t(x) * size_t(bits / 8);
            const size_t colour = bits == 8 ? 54 + 4 * size_t(file.at(at)) : at;
            p.rows.insert(p.rows.end(), {file.at(colour), file.at(colour + 1), file.at(colour + 2), 0});
        }
    return p;
}

// Palette entry i of every test file: (3i + 1, 255 - i, 7i) as B, G, R, 0; -1 is black.
Picture fromIndices(int32_t width, std::initializer_list<std::initializer_list<int>> bottomUp) {
    Picture p;
    p.width = width;
    for (const auto& row : bottomUp) {
        ++p.height;
        for (int i : row) {
            if (i < 0)
                p.rows.insert(p.rows.end(), {0, 0, 0, 0});
            else
                p.rows.insert(p.rows.end(), {uint8_t(7 * i), uint8_t(255 - i), uint8_t(3 * i + 1), 0});
        }
    }
    return p;
}

Picture decoded(int32_t id, int32_t width, int32_t height, void* window = nullptr) {
    platform::BitmapRows bitmap;
    Picture p;
    EXPECT_TRUE(platform::decodeBitmap(id, width, height, window, bitmap)) << "bitmap " << id;
    p.width = bitmap.width;
    p.height = bitmap.height;
    if (bitmap.rows) p.rows.assign(bitmap.rows, bitmap.rows + size_t(width) * size_t(height) * 4);
    platform::releaseBitmap(bitmap);
    return p;
}

TEST(Bitmaps, UncompressedFormsGiveTheFilesPixelsBottomRowFirst) {
    // Odd widths leave padding (0xEE) at every row end; the palette's fourth bytes are 0x5A.
    EXPECT_EQ(decoded(kPal8Odd, 5, 3), plainReading(readFile("pal8_odd.bmp")));
    EXPECT_EQ(decoded(kPal8Wide, 37, 11), plainReading(readFile("pal8_wide.bmp")));
    EXPECT_EQ(decoded(kRgb24Odd, 3, 2), plainReading(readFile("rgb24_odd.bmp")));
    EXPECT_EQ(decoded(kRgb24Wide, 29, 7), plainReading(readFile("rgb24_wide.bmp")));
    // The plain reading is not trivially equal to anything: its rows differ between files.
    EXPECT_NE(plainReading(readFile("pal8_odd.bmp")).rows, std::vector<uint8_t>(5 * 3 * 4, 0));
}

TEST(Bitmaps, PaletteAsTheSystemResolvesIt) {
    // 16 entries: indices 16 and above are black.
    EXPECT_EQ(decoded(kPal8ShortPalette, 4, 2), fromIndices(4, {{0, 15, -1, -1}, {-1, 3, -1, 1}}));
    // Pixels follow the colour table, whatever offset the file header names (2, 2 there).
    EXPECT_EQ(decoded(kPal8Gap, 2, 1), fromIndices(2, {{2, 2}}));
}

TEST(Bitmaps, Rle8EscapesAsTheSystemDrawsThem) {
    // Runs, an odd absolute run with its pad, end of line, a delta over two rows, an even
    // absolute run, end of bitmap. Skipped pixels are black, not entry 0.
    EXPECT_EQ(decoded(kRle8Escapes, 6, 4), fromIndices(6, {{9, 9, 9, 1, 2, 3},
                                                            {5, 5, -1, -1, -1, -1},
                                                            {-1, -1, -1, -1, 6, -1},
                                                            {10, 11, 12, 13, 14, 14}}));
    // Runs longer than the row are cut; a delta past the end stops there.
    EXPECT_EQ(decoded(kRle8Clipped, 4, 3), fromIndices(4, {{3, 3, 3, 3}, {-1, -1, 7, 8}, {-1, -1, -1, 4}}));
    // No end of bitmap: the row ended by an end of line is drawn, the run after it is not.
    EXPECT_EQ(decoded(kRle8Unterminated, 3, 2), fromIndices(3, {{4, 4, -1}, {-1, -1, -1}}));
    // Breaking off inside an absolute run: row 1's run before it is not drawn either.
    EXPECT_EQ(decoded(kRle8Truncated, 3, 2), fromIndices(3, {{4, 4, 4}, {-1, -1, -1}}));
}

TEST(Bitmaps, Rle8GivesTheSamePictureAsItsUncompressedTwin) {
    // Random runs, absolute runs and deltas; the twin draws skipped pixels with entry 0 (black).
    const Picture twin = plainReading(readFile("rle8_random_plain.bmp"));
    ASSERT_EQ(twin.width, 61);
    EXPECT_EQ(decoded(kRle8Random, 61, 29), twin);
}

TEST(Bitmaps, RefusesOtherSizesAndUnknownIdsWithoutRows) {
    platform::BitmapRows bitmap;
    ASSERT_TRUE(platform::decodeBitmap(kPal8Odd, 5, 3, nullptr, bitmap));
    ASSERT_NE(bitmap.rows, nullptr);
    // Refused: no rows (the earlier ones released), the bitmap's own size reported.
    for (auto [w, h] : {std::pair{5, 4}, {4, 3}, {6, 3}, {5, 2}, {3, 5}}) {
        EXPECT_FALSE(platform::decodeBitmap(kPal8Odd, w, h, nullptr, bitmap)) << w << " x " << h;
        EXPECT_EQ(bitmap.rows, nullptr);
        EXPECT_EQ(bitmap.width, 5);
        EXPECT_EQ(bitmap.height, 3);
    }
    // Unknown: nothing at all. 65536 + 101 would be 101 in a 16-bit resource id.
    for (int32_t id : {999, 0, -1, 65536 + kPal8Odd}) {
        EXPECT_FALSE(platform::decodeBitmap(id, 5, 3, nullptr, bitmap)) << id;
        EXPECT_EQ(bitmap.rows, nullptr);
        EXPECT_EQ(bitmap.width, 0);
        EXPECT_EQ(bitmap.height, 0);
    }
    platform::releaseBitmap(bitmap);
}

#if defined(_WIN32)
TEST(Bitmaps, ReadsThroughTheGivenWindowsDeviceContext) {
    // Headless, the desktop is the one window there is to ask.
    HWND desktop = GetDesktopWindow();
    ASSERT_NE(desktop, nullptr);
    EXPECT_EQ(decoded(kRle8Escapes, 6, 4, desktop), decoded(kRle8Escapes, 6, 4, nullptr));
    // A handle that names no window has no device context: the bitmap cannot be read.
    platform::BitmapRows bitmap;
    EXPECT_FALSE(platform::decodeBitmap(kRle8Escapes, 6, 4, reinterpret_cast<void*>(uintptr_t(0x7ff0)), bitmap));
    EXPECT_EQ(bitmap.rows, nullptr);
}
#endif

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    // The bitmaps are this program's resources.
    platform::setModuleHandle(GetModuleHandleW(nullptr));
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
