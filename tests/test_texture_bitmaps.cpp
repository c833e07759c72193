// The module's texture bitmaps: exactly the files of resources/, byte for byte, each decoding
// at its set's size to the files' pixels (POSIX: the table linked into the module; Windows:
// the module's resources through the system).
//   test_texture_bitmaps digest MODULE FILE   one line per bitmap, id, size and a hash of its
//                                             rows, for texture_bitmaps_cross_platform.sh
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "GreyBitmapFile.h"
#include "platform.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using grey_bitmap::FileSet;
using grey_bitmap::le32;

void forEachBitmap(const std::function<void(const FileSet&, int32_t id)>& visit) {
    for (const FileSet& set : grey_bitmap::kTextureFiles)
        for (int32_t id = set.firstId; id < set.firstId + set.count; ++id) visit(set, id);
}

std::vector<uint8_t> textureFile(int32_t id) {
    return grey_bitmap::readFile(std::string(TARNIX_RESOURCES_DIR) + "/" + std::to_string(id) + ".bmp");
}

uint64_t fnv1a(const uint8_t* bytes, size_t size) {
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < size; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
    return h;
}

// The rows are B, G, R, 0 per pixel, bottom row first, each the file's grey level.
TEST(TextureBitmaps, EachDecodesAtItsSetSizeToTheFilesPixels) {
    forEachBitmap([](const FileSet& set, int32_t id) {
        grey_bitmap::Bitmap file;
        ASSERT_EQ(grey_bitmap::decode(textureFile(id), file), "") << "resources/" << id << ".bmp";
        ASSERT_EQ(std::pair(file.width, file.height), std::pair(set.width, set.height)) << id;
        platform::BitmapRows bitmap;
        ASSERT_TRUE(platform::decodeBitmap(id, set.width, set.height, nullptr, bitmap)) << set.name << " " << id;
        std::vector<uint8_t> plain;
        for (int y = set.height - 1; y >= 0; --y)
            for (int x = 0; x < set.width; ++x) plain.insert(plain.end(), {file.at(x, y), file.at(x, y), file.at(x, y), 0});
        EXPECT_EQ(std::memcmp(bitmap.rows, plain.data(), plain.size()), 0) << set.name << " " << id;
        platform::releaseBitmap(bitmap);
    });
}

#if defined(_WIN32)
HMODULE gModule = nullptr;

BOOL CALLBACK noteBitmap(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR ids) {
    reinterpret_cast<std::set<int32_t>*>(ids)->insert(IS_INTRESOURCE(name) ? int32_t(uintptr_t(name)) : -1);
    return TRUE;
}

TEST(TextureBitmaps, ModuleCarriesExactlyTheFilesInEnglish) {
    std::set<int32_t> carried, expected;
    EnumResourceNamesW(gModule, MAKEINTRESOURCEW(2) /* RT_BITMAP */, noteBitmap, LONG_PTR(&carried));
    forEachBitmap([&](const FileSet&, int32_t id) { expected.insert(id); });
    EXPECT_EQ(carried, expected);
    // Each resource is its file less the 14-byte file header, in language 1033.
    forEachBitmap([](const FileSet&, int32_t id) {
        HRSRC found = FindResourceExW(gModule, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(id), 1033);
        ASSERT_NE(found, nullptr) << id;
        const std::vector<uint8_t> file = textureFile(id);
        ASSERT_EQ(size_t(SizeofResource(gModule, found)) + 14, file.size()) << id;
        const void* bytes = LockResource(LoadResource(gModule, found));
        EXPECT_EQ(std::memcmp(bytes, file.data() + 14, file.size() - 14), 0) << id;
    });
}
#else
TEST(TextureBitmaps, ModuleCarriesExactlyTheFilesWhole) {
    const std::vector<uint8_t> module = grey_bitmap::readFile(TARNIX_MODULE_PATH);
    ASSERT_FALSE(module.empty());
    // Every place that starts like a bitmap file: "BM", a fitting size, reserved zeros, a
    // 40-byte header of one plane.
    std::vector<size_t> starts;
    for (size_t i = 0; i + 54 <= module.size(); ++i) {
        const uint8_t* p = &module[i];
        if (p[0] == 'B' && p[1] == 'M' && le32(module, i + 6) == 0 && le32(module, i + 14) == 40 && p[26] == 1 && p[27] == 0 &&
            le32(module, i + 2) >= 54 && le32(module, i + 2) <= module.size() - i)
            starts.push_back(i);
    }
    EXPECT_EQ(starts.size(), 189u);
    // Each file found whole at one of them, no two at the same.
    std::set<size_t> matched;
    forEachBitmap([&](const FileSet&, int32_t id) {
        const std::vector<uint8_t> file = textureFile(id);
        const auto at = std::find_if(starts.begin(), starts.end(), [&](size_t start) {
            return !matched.count(start) && le32(module, start + 2) == file.size() &&
                   std::memcmp(&module[start], file.data(), file.size()) == 0;
        });
        ASSERT_NE(at, starts.end()) << "resources/" << id << ".bmp is not in the module";
        matched.insert(*at);
    });
}
#endif

// Writes one line per bitmap; fails when any cannot be decoded, so that two empty lists never agree.
int digest(const char* module, const char* path) {
#if defined(_WIN32)
    platform::setModuleHandle(platform::loadLibrary(module));
    if (!platform::moduleHandle()) return std::fprintf(stderr, "cannot load %s\n", module), 1;
#else
    (void)module;  // this program carries the module's own bitmap table
#endif
    FILE* out = std::fopen(path, "wb");
    if (!out) return 1;
    int failed = 0;
    forEachBitmap([&](const FileSet& set, int32_t id) {
        platform::BitmapRows bitmap;
        if (!platform::decodeBitmap(id, set.width, set.height, nullptr, bitmap)) {
            std::fprintf(stderr, "bitmap %d cannot be decoded\n", int(id));
            ++failed;
            return;
        }
        std::fprintf(out, "%d %d %d %016llx\n", int(id), int(bitmap.width), int(bitmap.height),
                     static_cast<unsigned long long>(fnv1a(bitmap.rows, size_t(bitmap.width) * size_t(bitmap.height) * 4)));
        platform::releaseBitmap(bitmap);
    });
    std::fclose(out);
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "digest") == 0) return digest(argv[2], argv[3]);
#if defined(_WIN32)
    gModule = static_cast<HMODULE>(platform::loadLibrary(TARNIX_MODULE_PATH));
    if (!gModule) return std::fprintf(stderr, "cannot load %s\n", TARNIX_MODULE_PATH), 1;
    platform::setModuleHandle(gModule);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
