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

TEST(InputReplay, StopsBeforeTheSecondChangeOfTheSameButtonOrKey) {
    // move, left down, move, left up: the release waits for the next frame.
    std::vector<Message> click = {{-1, 'm'}, {0, 'd'}, {-1, 'm'}, {0, 'u'}};
    EXPECT_EQ(framePortion(click, controlOf), 3u);
    click.erase(click.begin(), click.begin() + 3);
    EXPECT_EQ(framePortion(click, controlOf), 1u);

    // Different buttons and keys do not hold each other up.
    const std::vector<Message> chord = {{256 + 0x12, 'a'}, {256 + 0x73, 'f'}, {1, 'r'}, {-1, 'w'}};
    EXPECT_EQ(framePortion(chord, controlOf), 4u);
    // A key pressed twice in a row (auto-repeat) also spans frames.
    const std::vector<Message> repeat = {{256 + 0x0D, 'd'}, {256 + 0x0D, 'd'}, {256 + 0x0D, 'u'}};
    EXPECT_EQ(framePortion(repeat, controlOf), 1u);
    EXPECT_EQ(framePortion(std::vector<Message>{}, controlOf), 0u);
}

}  // namespace
}  // namespace starfell
