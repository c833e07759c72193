// The texture library: a set is decoded once, on its first request in range, into one block
// whose members lie a member's size apart, texel for texel the grey levels of the bitmap files
// (read here with a plain reader of our own) as opaque B = G = R; and how a draw picks a member.
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "GreyBitmapFile.h"
#include "StageTestSupport.h"
#include "TextureResources.h"
#include "lib/Common/TextureLibrary.h"

using namespace stage_support;

namespace {

using Loader = const uint8_t* (*)(PluginHost_API&, int32_t);

struct SetUnderTest {
    const TextureSet* set;
    Loader load;
    int32_t lastIndex;   // the highest index answered (the funk texture also answers for 2)
    int32_t firstAsked;  // the request that loads the set
};

const SetUnderTest kSets[] = {{&FunkTexture, &LoadFunkTexture, 2, 1},
                              {&SplotchTextures, &LoadSplotchTexture, 20, 11},
                              {&DustTextures, &LoadDustTexture, 120, 57},
                              {&ScratchStrips, &LoadScratchStrip, 48, 48}};

}  // namespace

// Runs first: every set starts unloaded in this process.
TEST(TextureLibrary, LoadsEachSetOnceOnItsFirstRequestInRange) {
    // A 16-bit output: the host lays the loading raster out at 8 bytes a pixel.
    StageFrame f(PixelLayout::BGRA16, 4, 4);
    PluginHost_API& host = *f.setup.services;
    MemoryService& memory = f.host->memory();
    for (const SetUnderTest& s : kSets) {
        const TextureSet& set = *s.set;
        SCOPED_TRACE(set.name);
        ASSERT_FALSE(TextureSetLoaded(set)) << "this test must run before anything loads a set";
        const int64_t made = memory.totalAllocations(), live = memory.liveBlocks();

        for (int32_t outside : {0, -1, s.lastIndex + 1, INT32_MIN, INT32_MAX}) EXPECT_EQ(s.load(host, outside), nullptr) << outside;
        EXPECT_FALSE(TextureSetLoaded(set)) << "a request out of range loads nothing";
        EXPECT_EQ(memory.totalAllocations(), made);

        {
            RefusedAllocation refused(1);
            EXPECT_EQ(s.load(host, s.firstAsked), nullptr);
            EXPECT_EQ(faults().allocations, 1) << "the loading raster was asked for once";
        }
        EXPECT_FALSE(TextureSetLoaded(set)) << "without its raster the set stays unloaded";

        const uint8_t* asked = s.load(host, s.firstAsked);
        ASSERT_NE(asked, nullptr) << "the next request loads it";
        EXPECT_TRUE(TextureSetLoaded(set));
        EXPECT_EQ(memory.totalAllocations(), made + 1) << "one raster decodes the whole set";
        EXPECT_EQ(memory.liveBlocks(), live) << "and goes back";

        const uint8_t* first = s.load(host, 1);
        const ptrdiff_t member = ptrdiff_t(set.width) * set.height * 4;
        EXPECT_EQ(asked - first, (s.firstAsked - 1) * member);
        for (int32_t n = 1; n <= set.members; ++n) ASSERT_EQ(s.load(host, n), first + (n - 1) * member) << n;
        for (int32_t outside : {0, s.lastIndex + 1}) EXPECT_EQ(s.load(host, outside), nullptr) << outside;
        EXPECT_EQ(memory.totalAllocations(), made + 1) << "later requests load nothing";
    }
    EXPECT_EQ(LoadFunkTexture(host, 2), LoadFunkTexture(host, 1));
    EXPECT_EQ(LoadDustTexture(host, 2) - LoadDustTexture(host, 1), 4096);
    EXPECT_EQ(LoadSplotchTexture(host, 2) - LoadSplotchTexture(host, 1), 640000);
    EXPECT_EQ(LoadScratchStrip(host, 2) - LoadScratchStrip(host, 1), 34560);
}

TEST(TextureLibrary, TexelsAreTheFilesGreyLevelsOpaque) {
    StageFrame f(PixelLayout::ARGB8, 4, 4);
    for (const SetUnderTest& s : kSets) {
        const TextureSet& set = *s.set;
        for (int32_t n = 1; n <= set.members; ++n) {
            const std::string path = std::string(TARNIX_RESOURCES_DIR) + "/" + std::to_string(set.firstResourceId + n) + ".bmp";
            SCOPED_TRACE(path);
            grey_bitmap::Bitmap file;
            ASSERT_EQ(grey_bitmap::decode(grey_bitmap::readFile(path), file), "");
            ASSERT_EQ(file.width, set.width);
            ASSERT_EQ(file.height, set.height);
            const uint8_t* texel = s.load(*f.setup.services, n);
            ASSERT_NE(texel, nullptr);
            for (int32_t y = 0; y < set.height; ++y)
                for (int32_t x = 0; x < set.width; ++x, texel += 4) {
                    const uint8_t grey = file.at(x, y);
                    ASSERT_TRUE(texel[0] == grey && texel[1] == grey && texel[2] == grey && texel[3] == 255)
                        << "at " << x << "," << y << ": " << int(texel[0]) << " " << int(texel[1]) << " " << int(texel[2])
                        << " " << int(texel[3]) << ", the file has " << int(grey);
                }
        }
    }
}

// round(u (K - 1) + 1): u = 0 is the first member, u = 1 the last, and over every draw the two
// ends come up half as often as each member between them.
TEST(TextureLibrary, DrawPicksMembersWithHalfWeightAtTheEnds) {
    for (int32_t members : {20, 120, 48}) {
        SCOPED_TRACE(members);
        EXPECT_EQ(TextureMemberFor(0.0, members), 1);
        EXPECT_EQ(TextureMemberFor(1.0, members), members);
        std::vector<int> count(size_t(members) + 2, 0);
        for (int draw = 0; draw <= 32767; ++draw) {
            const int32_t n = TextureMemberFor(draw / 32767.0, members);
            ASSERT_TRUE(n >= 1 && n <= members) << draw;
            ++count[size_t(n)];
        }
        const double share = 32767.0 / (members - 1);  // draws per unit of u (K - 1)
        EXPECT_NEAR(count[1], share / 2, 1.0);
        EXPECT_NEAR(count[size_t(members)], share / 2, 1.0);
        for (int32_t n = 2; n < members; ++n) EXPECT_NEAR(count[size_t(n)], share, 1.0) << n;
    }
}
