// The embedded background picture of the Linux build.
#include <gtest/gtest.h>

#include "resources/embedded.h"
#include "ui/images.h"

namespace starfell {
namespace {

TEST(BackgroundPicture, IsAnOpaque1140By670Picture) {
    DecodedImage image;
    ASSERT_TRUE(decodePng(resources::backgroundPng, resources::backgroundPngSize, PixelOrder::RGBA, image));
    EXPECT_EQ(image.width, 1140);
    EXPECT_EQ(image.height, 670);
    for (size_t i = 3; i < image.pixels.size(); i += 4 * 997) ASSERT_EQ(image.pixels[i], 255);
}

}  // namespace
}  // namespace starfell
