// Placement of the window.
#include <gtest/gtest.h>

#include "ui/window_layout.h"

namespace starfell {
namespace {

TEST(WindowPlacement, CentresOnCommonScreens) {
    EXPECT_EQ(centredWindowPosition(1920, 1080).x, 485);
    EXPECT_EQ(centredWindowPosition(1920, 1080).y, 275);
    EXPECT_EQ(centredWindowPosition(1366, 768).x, 208);
    EXPECT_EQ(centredWindowPosition(1366, 768).y, 119);
    // Odd sizes are halved in integers first: 1365/2 = 682, 682 - 475 = 207.
    EXPECT_EQ(centredWindowPosition(1365, 767).x, 207);
    EXPECT_EQ(centredWindowPosition(1365, 767).y, 118);
}

}  // namespace
}  // namespace starfell
