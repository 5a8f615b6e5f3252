// The committed tray icon must be what the tray needs: one 16x16 image with
// 256 colours at 8 bits per pixel, laid out as the icon loader expects.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

namespace {

std::vector<unsigned char> ReadIcon() {
    std::ifstream in(TRAY_ICON_PATH, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t U16(const std::vector<unsigned char>& b, std::size_t at) {
    return b.at(at) | (b.at(at + 1) << 8);
}

std::uint32_t U32(const std::vector<unsigned char>& b, std::size_t at) {
    return U16(b, at) | (U16(b, at + 2) << 16);
}

TEST(TrayIcon, DirectoryHoldsOne16x16ImageOf256ColoursAt8Bits) {
    std::vector<unsigned char> icon = ReadIcon();
    ASSERT_GE(icon.size(), 22u) << "cannot read " << TRAY_ICON_PATH;
    EXPECT_EQ(0u, U16(icon, 0)) << "reserved";
    EXPECT_EQ(1u, U16(icon, 2)) << "type: icon";
    EXPECT_EQ(1u, U16(icon, 4)) << "image count";
    EXPECT_EQ(16, icon[6]) << "width";
    EXPECT_EQ(16, icon[7]) << "height";
    EXPECT_EQ(0, icon[8]) << "colour count (0 stands for 256)";
    EXPECT_EQ(1u, U16(icon, 10)) << "planes";
    EXPECT_EQ(8u, U16(icon, 12)) << "bits per pixel";
    EXPECT_EQ(icon.size(), 22u + U32(icon, 14)) << "image size";
    EXPECT_EQ(22u, U32(icon, 18)) << "image offset";
}

TEST(TrayIcon, BitmapHeaderPaletteAndMasksAreComplete) {
    std::vector<unsigned char> icon = ReadIcon();
    ASSERT_GE(icon.size(), 22u + 40u);
    const std::size_t h = 22;
    EXPECT_EQ(40u, U32(icon, h)) << "header size";
    EXPECT_EQ(16u, U32(icon, h + 4)) << "width";
    EXPECT_EQ(32u, U32(icon, h + 8)) << "height of colour plus mask";
    EXPECT_EQ(1u, U16(icon, h + 12)) << "planes";
    EXPECT_EQ(8u, U16(icon, h + 14)) << "bits per pixel";
    EXPECT_EQ(0u, U32(icon, h + 16)) << "uncompressed";
    std::uint32_t used = U32(icon, h + 32);
    EXPECT_TRUE(used == 0 || used == 256) << "colours used: " << used;
    // Header, 256 palette entries, 16 rows of 16 pixels, 16 mask rows of 4 bytes.
    EXPECT_EQ(22u + 40u + 1024u + 256u + 64u, icon.size());
}

TEST(TrayIcon, PictureIsNeitherBlankNorFullyTransparent) {
    std::vector<unsigned char> icon = ReadIcon();
    ASSERT_EQ(22u + 40u + 1024u + 256u + 64u, icon.size());
    const std::size_t pixels = 22 + 40 + 1024;
    const std::size_t mask = pixels + 256;
    std::set<int> opaqueColours;
    int opaque = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            bool transparent = icon[mask + y * 4 + x / 8] & (0x80 >> (x % 8));
            if (!transparent) {
                ++opaque;
                opaqueColours.insert(icon[pixels + y * 16 + x]);
            } else {
                EXPECT_EQ(0, icon[pixels + y * 16 + x]) << "transparent pixel not black";
            }
        }
    }
    EXPECT_GT(opaque, 128) << "most of the icon is drawn";
    EXPECT_GE(opaqueColours.size(), 3u) << "a picture, not a filled square";
    // Every colour drawn has a palette entry that is not black.
    for (int index : opaqueColours) {
        std::size_t at = 22 + 40 + index * 4;
        EXPECT_NE(0, icon[at] | icon[at + 1] | icon[at + 2]) << "palette entry " << index;
    }
}

} // namespace
