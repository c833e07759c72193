// The texture bitmaps in resources/, read with a plain reader of our own: every member present,
// stored as the resource compiler and the decoders take it (8-bit with a linear grey palette,
// RLE8 for the funk grime, 24-bit grey for dust, rows bottom-up), with the value statistics the
// stages are tuned to, fading out at the edges, and byte for byte what the generator makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path kResources = TARNIX_RESOURCES_DIR;

struct TextureSet {
    const char* name;
    int firstId, count, width, height, bitCount, compression;
};

constexpr TextureSet kSplotches{"splotches", 11001, 20, 400, 400, 8, 0};
constexpr TextureSet kFunk{"funk", 12001, 1, 2048, 2048, 8, 1};
constexpr TextureSet kDust{"dust", 13001, 120, 32, 32, 24, 0};
constexpr TextureSet kStrips{"scratch strips", 14001, 48, 6, 1440, 8, 0};
constexpr TextureSet kSets[] = {kSplotches, kFunk, kDust, kStrips};

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le16(const std::vector<uint8_t>& b, size_t at) { return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8; }
uint32_t le32(const std::vector<uint8_t>& b, size_t at) { return le16(b, at) | le16(b, at + 2) << 16; }

// A decoded greyscale bitmap, row 0 at the top.
struct Bitmap {
    int width = 0, height = 0, bitCount = 0, compression = -1;
    std::vector<uint8_t> grey;
    uint8_t at(int x, int y) const { return grey[size_t(y) * size_t(width) + size_t(x)]; }
};

// The run-length stream of a bottom-up RLE8 bitmap, held to what every decoder takes: each row
// filled exactly and closed by an end of line, the last by the end of bitmap and nothing after it;
// absolute runs of at least three bytes padded to a 16-bit boundary; no position jumps.
std::string decodeRle8(const std::vector<uint8_t>& file, size_t at, size_t end, Bitmap& bmp) {
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
std::string decode(const std::vector<uint8_t>& file, Bitmap& bmp) {
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

fs::path pathOf(const fs::path& dir, int id) { return dir / (std::to_string(id) + ".bmp"); }

// Every member of a set, decoded and checked against the set's storage form.
std::vector<Bitmap> loadSet(const TextureSet& set) {
    std::vector<Bitmap> members;
    for (int id = set.firstId; id < set.firstId + set.count; ++id) {
        const fs::path path = pathOf(kResources, id);
        Bitmap bmp;
        const std::string wrong = fs::exists(path) ? decode(readFile(path), bmp) : "missing";
        EXPECT_EQ(wrong, "") << path;
        EXPECT_EQ(bmp.width, set.width) << path;
        EXPECT_EQ(bmp.height, set.height) << path;
        EXPECT_EQ(bmp.bitCount, set.bitCount) << path;
        EXPECT_EQ(bmp.compression, set.compression) << path;
        if (!wrong.empty() || bmp.width != set.width || bmp.height != set.height) bmp.grey.assign(size_t(set.width) * size_t(set.height), 0);
        bmp.width = set.width;
        bmp.height = set.height;
        members.push_back(std::move(bmp));
    }
    return members;
}

struct Stats {
    int min = 255, max = 0;
    double mean = 0.0;
};

Stats statsOf(const std::vector<Bitmap>& members) {
    Stats s;
    double sum = 0.0, n = 0.0;
    for (const Bitmap& m : members) {
        const auto [lo, hi] = std::minmax_element(m.grey.begin(), m.grey.end());
        s.min = std::min(s.min, int(*lo));
        s.max = std::max(s.max, int(*hi));
        for (uint8_t v : m.grey) sum += v;
        n += double(m.grey.size());
    }
    s.mean = sum / n;
    return s;
}

double meanOf(const Bitmap& m, int x0, int y0, int w, int h) {
    double sum = 0.0;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) sum += m.at(x, y);
    return sum / (double(w) * h);
}

// The outermost rows and columns, where a texture pasted as a rectangle would show its edge.
bool borderIs(const Bitmap& m, uint8_t value) {
    for (int i = 0; i < m.width; ++i)
        if (m.at(i, 0) != value || m.at(i, m.height - 1) != value) return false;
    for (int i = 0; i < m.height; ++i)
        if (m.at(0, i) != value || m.at(m.width - 1, i) != value) return false;
    return true;
}

TEST(TextureData, EveryMemberInItsStorageFormAndNothingElse) {
    int members = 0;
    for (const TextureSet& set : kSets) {
        const auto loaded = loadSet(set);
        members += int(loaded.size());
        // A generator that gave two members the same seed would leave the set smaller than it looks.
        for (size_t i = 0; i < loaded.size(); ++i)
            for (size_t j = i + 1; j < loaded.size(); ++j)
                EXPECT_FALSE(loaded[i].grey == loaded[j].grey) << set.name << " members " << i + 1 << " and " << j + 1 << " are the same";
    }
    EXPECT_EQ(members, 189);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(kResources))
        if (entry.path().extension() == ".bmp") ++files;
    EXPECT_EQ(files, 189) << "bitmaps in " << kResources << " that belong to no set";
}

TEST(TextureData, ValueStatisticsOfEachSet) {
    // Splotches: white with darker stains, 104 at the darkest; multiplied onto the picture, so
    // the white surround must leave it alone right up to the edge.
    const auto splotches = loadSet(kSplotches);
    const Stats s = statsOf(splotches);
    EXPECT_EQ(s.min, 104);
    EXPECT_EQ(s.max, 255);
    EXPECT_NEAR(s.mean, 247.0, 1.0);
    for (size_t i = 0; i < splotches.size(); ++i) {
        const Stats m = statsOf({splotches[i]});
        EXPECT_TRUE(borderIs(splotches[i], 255)) << "splotch " << i + 1;
        EXPECT_LE(m.min, 200) << "splotch " << i + 1 << " has no stain to speak of";
        EXPECT_GT(m.mean, 235.0) << "splotch " << i + 1 << " is mostly stain";
    }

    // Dust: black with small bright specks, added onto the picture (or inverted and multiplied):
    // black edges, and a visible speck that covers a small part of the tile.
    const auto dust = loadSet(kDust);
    const Stats d = statsOf(dust);
    EXPECT_EQ(d.min, 0);
    EXPECT_EQ(d.max, 255);
    EXPECT_NEAR(d.mean, 4.0, 0.5);
    for (size_t i = 0; i < dust.size(); ++i) {
        EXPECT_TRUE(borderIs(dust[i], 0)) << "dust speck " << i + 1;
        EXPECT_GE(statsOf({dust[i]}).max, 64) << "dust speck " << i + 1 << " is too faint to see";
        const auto lit = std::count_if(dust[i].grey.begin(), dust[i].grey.end(), [](uint8_t v) { return v > 0; });
        EXPECT_LT(lit, 32 * 32 / 4) << "dust speck " << i + 1 << " fills its tile";
    }

    // Scratch strips: mostly dark, with a narrow bright groove inside the six columns, the two
    // outer columns much dimmer than the groove.
    const auto strips = loadSet(kStrips);
    const Stats t = statsOf(strips);
    EXPECT_EQ(t.min, 0);
    EXPECT_EQ(t.max, 251);
    EXPECT_NEAR(t.mean, 62.0, 1.0);
    for (size_t i = 0; i < strips.size(); ++i) {
        double column[6];
        for (int x = 0; x < 6; ++x) column[x] = meanOf(strips[i], x, 0, 1, 1440);
        const int groove = int(std::max_element(column, column + 6) - column);
        EXPECT_TRUE(groove >= 1 && groove <= 4) << "strip " << i + 1 << " groove at column " << groove;
        EXPECT_LT(std::max(column[0], column[5]), 0.6 * column[groove]) << "strip " << i + 1 << " is not narrow";
    }

    // Funk: mid-grey grime overlaid on the picture (128 leaves it alone), blotchy at large scale
    // (areas of a quarter of the texture differ in their average), smooth from pixel to pixel
    // rather than noise, with dark and light blotches both present.
    const auto funk = loadSet(kFunk);
    const Bitmap& f = funk[0];
    const Stats g = statsOf(funk);
    EXPECT_NEAR(g.mean, 128.0, 10.0);
    double lightest = 0.0, darkest = 255.0;
    for (int by = 0; by < 8; ++by)
        for (int bx = 0; bx < 8; ++bx) {
            const double m = meanOf(f, bx * 256, by * 256, 256, 256);
            lightest = std::max(lightest, m);
            darkest = std::min(darkest, m);
        }
    EXPECT_GT(lightest - darkest, 12.0);
    double step = 0.0;
    size_t dark = 0, light = 0;
    for (int y = 0; y < 2048; ++y)
        for (int x = 0; x < 2048; ++x) {
            if (x > 0) step += std::abs(int(f.at(x, y)) - int(f.at(x - 1, y)));
            dark += f.at(x, y) <= 100;
            light += f.at(x, y) >= 150;
        }
    EXPECT_LT(step / (2047.0 * 2048.0), 2.0);
    EXPECT_GT(double(dark) / (2048.0 * 2048.0), 0.01);
    EXPECT_GT(double(light) / (2048.0 * 2048.0), 0.01);
}

// The committed files are what the generator makes now: regenerating changes no byte.
TEST(TextureData, GeneratorRemakesTheCommittedFiles) {
    const fs::path out = fs::temp_directory_path() / ("tarnix-textures-" + std::to_string(getpid()));
    fs::remove_all(out);
    fs::create_directories(out);
    const std::string command = std::string("\"") + TEXTURE_GENERATOR + "\" \"" + out.string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const TextureSet& set : kSets)
        for (int id = set.firstId; id < set.firstId + set.count; ++id)
            EXPECT_TRUE(readFile(pathOf(out, id)) == readFile(pathOf(kResources, id))) << id << ".bmp differs from what the generator makes";
    fs::remove_all(out);
}

}  // namespace
