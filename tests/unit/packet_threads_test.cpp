// The packet threads of the server connection: lists that take turns while
// news goes on, a news list that stops at its cap, and blocks beyond the
// threads at work that are dropped rather than queued without end.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/packet_handlers.h"
#include "core/launcher_state.h"
#include "core/packet.h"
#include "core/server_connection.h"
#include "test_packets.h"
#include "test_support.h"

namespace starfell {
namespace {

using test::Entry;
using test::fileCheckPacket;
using test::field;
using test::newsPacket;
using test::patchListPacket;
using test::typed;
using test::waitFor;


// Handlers that record when they run and can be held inside their work.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    int inside = 0, mostInside = 0, news = 0;
    bool release = false;

    void work() {
        std::unique_lock<std::mutex> lock(mutex);
        mostInside = std::max(mostInside, ++inside);
        changed.notify_all();
        changed.wait(lock, [this] { return release; });
        --inside;
    }
};
Recorder* recorder = nullptr;

TEST(GameFilesWork, PatchAndFileListsTakeTurnsWhileNewsGoesOn) {
    Recorder record;
    recorder = &record;
    const PacketHandlers handlers{
        [](const std::string&) {},
        [](const std::string&) {
            std::lock_guard<std::mutex> lock(recorder->mutex);
            ++recorder->news;
            recorder->changed.notify_all();
        },
        [](const std::string&) { recorder->work(); },
        [](const std::string&) { recorder->work(); },
        [] {},
    };
    LauncherState state;
    state.authorised = 1;
    std::vector<std::thread> threads;
    for (const std::string& packet : {patchListPacket("1001"), fileCheckPacket({}), patchListPacket("1002"),
                                      fileCheckPacket({})})
        threads.emplace_back([&, packet] { dispatchPacket(packet, handlers, state); });
    {
        std::unique_lock<std::mutex> lock(record.mutex);
        ASSERT_TRUE(record.changed.wait_for(lock, std::chrono::seconds(10), [&] { return record.inside == 1; }));
    }
    // While one list works, a News packet is still handled at once.
    threads.emplace_back([&] { dispatchPacket(newsPacket({"meanwhile"}), handlers, state); });
    {
        std::unique_lock<std::mutex> lock(record.mutex);
        EXPECT_TRUE(record.changed.wait_for(lock, std::chrono::seconds(10), [&] { return record.news == 1; }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // room for a wrongly admitted second list
    {
        std::lock_guard<std::mutex> lock(record.mutex);
        record.release = true;
        record.changed.notify_all();
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(record.mostInside, 1);
    recorder = nullptr;
}

TEST(FloodedNews, ListStopsAtItsCapKeepingTheFirstLines) {
    LauncherState state;
    std::vector<std::string> lines;
    for (int packet = 0; packet < 4; ++packet) {
        lines.clear();
        for (int i = 0; i < 255; ++i) lines.push_back(std::to_string(packet * 255 + i));
        parseNews(newsPacket(lines), state);
    }
    const std::vector<std::string> kept = state.newsItems();
    ASSERT_EQ(kept.size(), kMaximumNewsItems);
    for (size_t i = 0; i < kept.size(); ++i) ASSERT_EQ(kept[i], std::to_string(i));

    // The snapshot the screen draws from stops there too.
    LauncherSnapshot snapshot;
    state.refreshSnapshot(snapshot);
    parseNews(newsPacket({"late"}), state);
    const std::uint64_t revision = snapshot.newsRevision;
    state.refreshSnapshot(snapshot);
    EXPECT_EQ(snapshot.newsRevision, revision);
    EXPECT_EQ(snapshot.newsItems, kept);
}

// News handlers that stay at work until released, as lists stuck behind a slow download would.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::atomic<int> handled{0};
};
Gate* gate = nullptr;

const PacketHandlers heldHandlers{
    [](const std::string&) {},
    [](const std::string&) {
        std::unique_lock<std::mutex> lock(gate->mutex);
        gate->opened.wait(lock, [] { return gate->open; });
        ++gate->handled;
    },
    [](const std::string&) {},
    [](const std::string&) {},
    [] {},
};

TEST(PacketThreads, BlocksBeyondTheThreadsAtWorkAreDroppedNotQueuedWithoutEnd) {
    Gate held;
    gate = &held;
    const std::int32_t wasAuthorised = launcherState.authorised.exchange(1);
    setPacketHandlers(heldHandlers);
    test::CapturedDiagnostics diagnostics;
    ASSERT_EQ(packetThreadsAtWork(), 0);
    for (int i = 0; i < kMaximumPacketThreads; ++i) ASSERT_TRUE(startPacketThread(newsPacket({"held"}))) << i;
    EXPECT_EQ(packetThreadsAtWork(), kMaximumPacketThreads);
    EXPECT_FALSE(startPacketThread(newsPacket({"one too many"})));
    EXPECT_FALSE(startPacketThread(newsPacket({"and another"})));
    EXPECT_EQ(packetThreadsAtWork(), kMaximumPacketThreads);
    // Said once for the run of dropped blocks, not once per block.
    const std::string said = diagnostics.text();
    EXPECT_NE(said.find("Packet dropped: packet threads still at work: 64"), std::string::npos) << said;
    EXPECT_EQ(said.find("Packet dropped", said.find("Packet dropped") + 1), std::string::npos) << said;

    {
        std::lock_guard<std::mutex> lock(held.mutex);
        held.open = true;
    }
    held.opened.notify_all();
    ASSERT_TRUE(waitFor([] { return packetThreadsAtWork() == 0; }, std::chrono::seconds(20)));
    EXPECT_EQ(held.handled.load(), kMaximumPacketThreads);
    // Once the work is done, blocks are taken again.
    EXPECT_TRUE(startPacketThread(newsPacket({"later"})));
    ASSERT_TRUE(waitFor([] { return packetThreadsAtWork() == 0; }, std::chrono::seconds(20)));
    EXPECT_EQ(held.handled.load(), kMaximumPacketThreads + 1);
    setPacketHandlers(launcherHandlers());
    launcherState.authorised = wasAuthorised;
}

}  // namespace
}  // namespace starfell
