// Placement of the window and the input hand-off between the two threads.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ui/input_replay.h"
#include "ui/locked_queue.h"
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

TEST(InputQueue, DeliversEverythingInOrderAcrossThreadsAndDropsBeyondCapacity) {
    LockedQueue<int> queue(100000);
    constexpr int count = 50000;
    std::thread producer([&] {
        for (int i = 0; i < count; ++i) ASSERT_TRUE(queue.push(i));
    });
    std::vector<int> received, batch;
    while (static_cast<int>(received.size()) < count) {
        queue.drain(batch);
        received.insert(received.end(), batch.begin(), batch.end());
        std::this_thread::yield();
    }
    producer.join();
    for (int i = 0; i < count; ++i) ASSERT_EQ(received[i], i);

    LockedQueue<int> small(2);
    EXPECT_TRUE(small.push(1));
    EXPECT_TRUE(small.push(2));
    EXPECT_FALSE(small.push(3));
    small.drain(batch);
    EXPECT_EQ(batch, (std::vector<int>{1, 2}));
    EXPECT_TRUE(small.push(4));  // room again once drained
}

}  // namespace
}  // namespace starfell

namespace starfell {
namespace {

// Messages as (control, tag): control -1 changes no button or key.
struct Message {
    int control;
    char tag;
};
int controlOf(const Message& m) { return m.control; }

TEST(InputReplay, StopsBeforeTheSecondChangeOfTheSameKeyAndAfterEachButtonChange) {
    // A drag replayed late: move, left down, moves, left up. The press ends its
    // frame, so the GUI sees it where it was made, not where the moves went on to;
    // the moves and the release come in the next frame.
    std::vector<Message> drag = {{-1, 'm'}, {0, 'd'}, {-1, 'm'}, {-1, 'm'}, {0, 'u'}, {-1, 'm'}};
    EXPECT_EQ(framePortion(drag, controlOf), 2u);
    drag.erase(drag.begin(), drag.begin() + 2);
    EXPECT_EQ(framePortion(drag, controlOf), 3u);

    // Different keys do not hold each other up; a button change still ends the frame.
    const std::vector<Message> chord = {{FirstKeyControl + 0x11, 'c'}, {FirstKeyControl + 0x73, 'f'}, {1, 'r'},
                                        {FirstKeyControl + 0x11, 'C'}};
    EXPECT_EQ(framePortion(chord, controlOf), 3u);
    // A key pressed twice in a row (auto-repeat) also spans frames.
    const std::vector<Message> repeat = {
        {FirstKeyControl + 0x0D, 'd'}, {FirstKeyControl + 0x0D, 'd'}, {FirstKeyControl + 0x0D, 'u'}};
    EXPECT_EQ(framePortion(repeat, controlOf), 1u);
    EXPECT_EQ(framePortion(std::vector<Message>{}, controlOf), 0u);
}

}  // namespace
}  // namespace starfell
