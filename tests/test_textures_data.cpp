// The texture bitmaps in resources/, read with a plain reader of our own: every member in the
// storage form the resource compiler and decoders take, with the value statistics the stages
// are tuned to, and byte for byte what the generator makes.
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

#include "GreyBitmapFile.h"

namespace {

namespace fs = std::filesystem;
using namespace grey_bitmap;

const fs::path kResources = TARNIX_RESOURCES_DIR;

constexpr const FileSet &kSplotches = kTextureFiles[0], &kFunk = kTextureFiles[1], &kDust = kTextureFiles[2],
                        &kStrips = kTextureFiles[3];

fs::path pathOf(const fs::path& dir, int id) { return dir / (std::to_string(id) + ".bmp"); }

// Every member of a set, decoded and checked against the set's storage form.
std::vector<Bitmap> loadSet(const FileSet& set) {
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
    for (const FileSet& set : kTextureFiles) {
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
    // Splotches: white with darker stains (104 at the darkest), white right up to the edge.
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

    // Dust: black with small bright specks: black edges, a speck covering a small part.
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

    // Scratch strips: mostly dark, a narrow bright groove, the outer columns much dimmer.
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

    // Funk: mid-grey grime, blotchy at large scale (quarters differ in average), smooth from
    // pixel to pixel, dark and light blotches both present.
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
    for (const FileSet& set : kTextureFiles)
        for (int id = set.firstId; id < set.firstId + set.count; ++id)
            EXPECT_TRUE(readFile(pathOf(out, id)) == readFile(pathOf(kResources, id))) << id << ".bmp differs from what the generator makes";
    fs::remove_all(out);
}

}  // namespace
