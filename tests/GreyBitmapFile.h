// A plain reader of the greyscale bitmap files in resources/, written apart from the decoders
// it checks, and strict: it takes the storage forms the resource compiler and both decoders
// read alike and names what else it finds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace grey_bitmap {

inline std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline uint32_t le16(const std::vector<uint8_t>& b, size_t at) { return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8; }
inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) { return le16(b, at) | le16(b, at + 2) << 16; }

// The texture sets as files in resources/: ids, sizes and the storage form each is kept in
// (8-bit with a linear grey palette, RLE8 for the funk grime, 24-bit grey for dust).
struct FileSet {
    const char* name;
    int firstId, count, width, height, bitCount, compression;
};
inline constexpr FileSet kTextureFiles[] = {{"splotches", 11001, 20, 400, 400, 8, 0},
                                            {"funk", 12001, 1, 2048, 2048, 8, 1},
                                            {"dust", 13001, 120, 32, 32, 24, 0},
                                            {"scratch strips", 14001, 48, 6, 1440, 8, 0}};

// A decoded greyscale bitmap, row 0 at the top.
struct Bitmap {
    int width = 0, height = 0, bitCount = 0, compression = -1;
    std::vector<uint8_t> grey;
    uint8_t at(int x, int y) const { return grey[size_t(y) * size_t(width) + size_t(x)]; }
};

// The run-length stream of a bottom-up RLE8 bitmap, held to what every decoder takes: each row
// filled exactly and closed by an end of line, the last by the end of bitmap and nothing after it;
// absolute runs of at least three bytes padded to a 16-bit boundary; no position jumps.
inline std::string decodeRle8(const std::vector<uint8_t>& file, size_t at, size_t end, Bitmap& bmp) {
    bmp.grey.assign(size_t(bmp.width) * size_t(bmp.height), 0);
    int x = 0, row = 0;  // row counts from the bottom
    auto put = [&](uint8_t v) { bmp.grey[size_t(bmp.height - 1 - row) * size_t(bmp.width) + size_t(x++)] = v; };
    while (at + 2 <= end) {
        const uint8_t count = file[at], value = file[at + 1];
        at += 2;
        if (count > 0) {
            if (x + count > bmp.width) return "encoded run past the row's end in row " + std::to_string(row);
            for (int i = 0; i < count; ++i) put(value);
        } else if (value == 0 || value == 1) {
            if (x != bmp.width) return "row " + std::to_string(row) + " ends after " + std::to_string(x) + " pixels";
            if (value == 1) {
                if (row != bmp.height - 1) return "end of bitmap after row " + std::to_string(row);
                return at == end ? "" : "bytes after the end of bitmap";
            }
            if (++row == bmp.height) return "end of line past the last row";
            x = 0;
        } else if (value == 2) {
            return "position jump";
        } else {
            const size_t padded = value + (value & 1u);
            if (at + padded > end) return "absolute run past the end of the data";
            if (x + value > bmp.width) return "absolute run past the row's end in row " + std::to_string(row);
            for (int i = 0; i < value; ++i) put(file[at + size_t(i)]);
            at += padded;
        }
    }
    return "no end of bitmap";
}

// Reads a bitmap file; returns what is wrong with it, or nothing.
inline std::string decode(const std::vector<uint8_t>& file, Bitmap& bmp) {
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') return "not a bitmap file";
    if (le32(file, 2) != file.size()) return "file size field " + std::to_string(le32(file, 2));
    if (le32(file, 6) != 0) return "reserved fields set";
    if (le32(file, 14) != 40) return "not a BITMAPINFOHEADER";
    bmp.width = int32_t(le32(file, 18));
    bmp.height = int32_t(le32(file, 22));  // positive: stored bottom-up
    bmp.bitCount = int(le16(file, 28));
    bmp.compression = int(le32(file, 30));
    if (bmp.width <= 0 || bmp.height <= 0) return "not a bottom-up bitmap of positive size";
    if (le16(file, 26) != 1) return "planes is not 1";
    const size_t offset = le32(file, 10), sizeImage = le32(file, 34);
    if (bmp.bitCount == 8) {
        const uint32_t used = le32(file, 46);
        if (used != 0 && used != 256) return "palette of " + std::to_string(used) + " entries";
        if (offset != 54 + 1024) return "pixel data not right after the palette";
        for (uint32_t i = 0; i < 256; ++i)
            if (le32(file, 54 + 4 * i) != i * 0x010101u) return "palette entry " + std::to_string(i) + " is not grey " + std::to_string(i);
        if (bmp.compression == 1) {
            if (sizeImage != file.size() - offset) return "image size field does not match the run-length data";
            return decodeRle8(file, offset, file.size(), bmp);
        }
        if (bmp.compression != 0) return "compression " + std::to_string(bmp.compression);
        const size_t stride = (size_t(bmp.width) + 3) / 4 * 4;
        if (file.size() != offset + stride * size_t(bmp.height)) return "pixel data of the wrong length";
        if (sizeImage != 0 && sizeImage != stride * size_t(bmp.height)) return "image size field";
        bmp.grey.resize(size_t(bmp.width) * size_t(bmp.height));
        for (int y = 0; y < bmp.height; ++y)
            for (int x = 0; x < bmp.width; ++x)
                bmp.grey[size_t(y) * size_t(bmp.width) + size_t(x)] = file[offset + size_t(bmp.height - 1 - y) * stride + size_t(x)];
        return "";
    }
    if (bmp.bitCount == 24) {
        if (bmp.compression != 0) return "compressed 24-bit bitmap";
        if (offset != 54) return "24-bit bitmap with a palette";
        const size_t stride = (size_t(bmp.width) * 3 + 3) / 4 * 4;
        if (file.size() != offset + stride * size_t(bmp.height)) return "pixel data of the wrong length";
        if (sizeImage != 0 && sizeImage != stride * size_t(bmp.height)) return "image size field";
        bmp.grey.resize(size_t(bmp.width) * size_t(bmp.height));
        for (int y = 0; y < bmp.height; ++y)
            for (int x = 0; x < bmp.width; ++x) {
                const size_t p = offset + size_t(bmp.height - 1 - y) * stride + size_t(x) * 3;
                if (file[p] != file[p + 1] || file[p] != file[p + 2]) return "pixel that is not grey";
                bmp.grey[size_t(y) * size_t(bmp.width) + size_t(x)] = file[p];
            }
        return "";
    }
    return "bit count " + std::to_string(bmp.bitCount);
}

}  // namespace grey_bitmap
