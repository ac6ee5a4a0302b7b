// The frame loop's decision to draw: idle passes draw nothing, and every kind
// of change is drawn until the GUI has settled.
#include <gtest/gtest.h>

#include "ui/frame_demand.h"

namespace starfell {
namespace {

// How many of the next `passes` passes draw, with nothing new happening.
int framesDrawn(FrameDemand& demand, int passes) {
    int drawn = 0;
    for (int i = 0; i < passes; ++i) drawn += demand.shouldDraw(false, false) ? 1 : 0;
    return drawn;
}

TEST(FrameDemand, DrawsTheFirstFramesThenNothingUntilSomethingChanges) {
    FrameDemand demand;
    EXPECT_EQ(framesDrawn(demand, 100), FrameDemand::kSettleFrames);
    EXPECT_TRUE(demand.shouldDraw(true, false));  // input
    EXPECT_EQ(framesDrawn(demand, 100), FrameDemand::kSettleFrames - 1);
    EXPECT_TRUE(demand.shouldDraw(false, true));  // the launcher state changed
    EXPECT_EQ(framesDrawn(demand, 100), FrameDemand::kSettleFrames - 1);
    demand.requestRedraw();  // an uncovered window, a reset device
    EXPECT_EQ(framesDrawn(demand, 100), FrameDemand::kSettleFrames);
}

TEST(FrameDemand, AnimationsAndAHeldButtonKeepFramesComing) {
    FrameDemand demand;
    framesDrawn(demand, 100);
    for (int frame = 0; frame < 50; ++frame) {
        demand.requestNextFrame();  // an easing button, asked for during each frame
        ASSERT_TRUE(demand.shouldDraw(false, false)) << frame;
    }
    EXPECT_EQ(framesDrawn(demand, 100), 0);  // settled: it asked no more
    demand.noteGuiBusy(true);  // a slider dragged, a text entry's cursor blinking
    EXPECT_EQ(framesDrawn(demand, 100), 100);
    demand.noteGuiBusy(false);
    EXPECT_EQ(framesDrawn(demand, 100), 0);
}

}  // namespace
}  // namespace starfell
