// PNG decoding for the built-in pictures: pixel order, and bad data refused.
#include <gtest/gtest.h>
#include <png.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "ui/images.h"

namespace starfell {
namespace {

// A 3x2 RGBA PNG made with libpng's writer: a pixel's red is 10*x, green 100+y, blue 7, alpha 200+x.
std::vector<unsigned char> samplePng() {
    std::vector<unsigned char> pixels;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            pixels.insert(pixels.end(), {static_cast<unsigned char>(10 * x), static_cast<unsigned char>(100 + y), 7,
                                         static_cast<unsigned char>(200 + x)});
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 3;
    image.height = 2;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr));
    std::vector<unsigned char> bytes(size);
    EXPECT_TRUE(png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data(), 0, nullptr));
    bytes.resize(size);
    return bytes;
}

TEST(DecodePng, GivesPixelsInTheAskedOrder) {
    const std::vector<unsigned char> png = samplePng();
    DecodedImage rgba;
    ASSERT_TRUE(decodePng(png.data(), png.size(), PixelOrder::RGBA, rgba));
    EXPECT_EQ(rgba.width, 3);
    EXPECT_EQ(rgba.height, 2);
    ASSERT_EQ(rgba.pixels.size(), 24u);
    const size_t last = (1 * 3 + 2) * 4;  // x 2, y 1
    EXPECT_EQ(std::vector<unsigned char>(rgba.pixels.begin() + last, rgba.pixels.begin() + last + 4),
              (std::vector<unsigned char>{20, 101, 7, 202}));

    DecodedImage bgra;
    ASSERT_TRUE(decodePng(png.data(), png.size(), PixelOrder::BGRA, bgra));
    EXPECT_EQ(std::vector<unsigned char>(bgra.pixels.begin() + last, bgra.pixels.begin() + last + 4),
              (std::vector<unsigned char>{7, 101, 20, 202}));
}

TEST(DecodePng, RefusesTruncatedCorruptAndOversizedPicturesWithADiagnostic) {
    const std::vector<unsigned char> png = samplePng();
    std::vector<std::vector<unsigned char>> bad;
    bad.emplace_back(png.begin(), png.begin() + png.size() / 2);  // cut in the image data
    bad.emplace_back(png.begin(), png.begin() + 20);              // cut in the header
    bad.emplace_back(std::vector<unsigned char>(64, 0x5a));        // not a PNG at all
    std::vector<unsigned char> huge = png;                         // width 100000 in IHDR
    huge[16] = 0x00, huge[17] = 0x01, huge[18] = 0x86, huge[19] = 0xA0;
    bad.push_back(huge);
    for (size_t i = 0; i < bad.size(); ++i) {
        test::CapturedDiagnostics diagnostics;
        DecodedImage out;
        EXPECT_FALSE(decodePng(bad[i].data(), bad[i].size(), PixelOrder::RGBA, out)) << "case " << i;
        EXPECT_EQ(out.width, 0) << "case " << i;
        EXPECT_NE(diagnostics.text().find("Cannot read picture: "), std::string::npos) << "case " << i;
    }
    DecodedImage out;
    test::CapturedDiagnostics diagnostics;
    EXPECT_FALSE(decodePng(nullptr, 0, PixelOrder::RGBA, out));
}

TEST(TextureSize, KeepsTheSizeTheCardTakesAndFitsTheRest) {
    // A card that takes any size, or any size clamped: the picture's own.
    EXPECT_EQ(textureSizeFor(1140, 670, {false, false, 2048, 2048}).width, 1140);
    // Powers of two only: rounded up, but never past the largest texture.
    const ImageSize pow2 = textureSizeFor(1140, 670, {true, false, 2048, 2048});
    EXPECT_EQ(pow2.width, 2048);
    EXPECT_EQ(pow2.height, 1024);
    const ImageSize small = textureSizeFor(1140, 670, {true, false, 1024, 512});
    EXPECT_EQ(small.width, 1024);
    EXPECT_EQ(small.height, 512);
    // A largest size that is no power of two itself still gives one.
    EXPECT_EQ(textureSizeFor(1140, 670, {true, false, 1000, 1000}).width, 512);
    // Square only, within 1024.
    const ImageSize square = textureSizeFor(1140, 670, {true, true, 1024, 1024});
    EXPECT_EQ(square.width, 1024);
    EXPECT_EQ(square.height, 1024);
    // Without a limit reported (0), no limit is applied.
    EXPECT_EQ(textureSizeFor(1140, 670, {false, false, 0, 0}).height, 670);
}

TEST(ResizedImage, FiltersInsteadOfPickingPixels) {
    // A 4x2 picture of black and white columns: halved, every pixel is the grey
    // average (picking pixels would give pure black or pure white).
    DecodedImage stripes;
    stripes.width = 4;
    stripes.height = 2;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            const unsigned char v = x % 2 ? 255 : 0;
            stripes.pixels.insert(stripes.pixels.end(), {v, v, v, 255});
        }
    const DecodedImage half = resizedImage(stripes, 2, 1);
    ASSERT_EQ(half.pixels.size(), 8u);
    for (size_t i = 0; i < half.pixels.size(); ++i) EXPECT_NEAR(half.pixels[i], i % 4 == 3 ? 255 : 128, 1) << i;

    // Grown, the edges keep their colours and the middle blends, without overflow.
    const DecodedImage grown = resizedImage(stripes, 8, 3);
    ASSERT_EQ(grown.pixels.size(), 8u * 3 * 4);
    EXPECT_EQ(grown.pixels[0], 0);
    EXPECT_EQ(grown.pixels[7 * 4], 255);
    EXPECT_GT(grown.pixels[2 * 4], 0);
    EXPECT_LT(grown.pixels[2 * 4], 255);
    EXPECT_EQ(grown.pixels[(2 * 8 + 7) * 4 + 3], 255);
}

}  // namespace
}  // namespace starfell
