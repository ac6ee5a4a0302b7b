// The file worker: lists and checks run one at a time in arrival order while
// news goes on, a news list stops at its cap, and work beyond the waiting cap
// is dropped rather than queued without end.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/file_work.h"
#include "core/launcher_state.h"
#include "core/packet.h"
#include "core/server_connection.h"
#include "test_packets.h"
#include "test_support.h"

namespace starfell {
namespace {

using test::fileCheckPacket;
using test::newsPacket;
using test::patchListPacket;

// Handlers that log what ran and hold the first list until released.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> log;
    int inside = 0, mostInside = 0;
    bool release = false;

    void note(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex);
        log.push_back(what);
        changed.notify_all();
    }
    void work(const std::string& what) {
        std::unique_lock<std::mutex> lock(mutex);
        mostInside = std::max(mostInside, ++inside);
        log.push_back(what);
        changed.notify_all();
        changed.wait(lock, [this] { return release; });
        --inside;
    }
    bool waitFor(size_t entries) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return log.size() >= entries; });
    }
};
Recorder* recorder = nullptr;

TEST(FileWork, ListsAndChecksRunOneAtATimeInArrivalOrderWhileNewsGoesOn) {
    Recorder record;
    recorder = &record;
    const PacketHandlers handlers{
        [](const std::string&) { recorder->work("hello"); },
        [](const std::string&) { recorder->note("news"); },
        [](const std::string& packet) { recorder->work("list " + packet.substr(5)); },
        [](const std::string&) { recorder->work("check"); },
        [] { recorder->note("report"); },
    };
    LauncherState state;
    FileWorkQueue worker;
    const PostWork post = [&worker](Work work) { return worker.post(std::move(work)); };
    for (const std::string& packet : {std::string("\xE9\x03\0\0\0", 5), patchListPacket("1001"),
                                      fileCheckPacket({}), patchListPacket("1002"), fileCheckPacket({})})
        dispatchPacket(packet, handlers, state, post);
    ASSERT_TRUE(record.waitFor(1));
    // While the hello answer's work is held, News is still handled at once.
    dispatchPacket(newsPacket({"meanwhile"}), handlers, state, post);
    ASSERT_TRUE(record.waitFor(2));
    {
        std::lock_guard<std::mutex> lock(record.mutex);
        record.release = true;
        record.changed.notify_all();
    }
    worker.waitUntilIdle();
    EXPECT_EQ(record.log, std::vector<std::string>({"hello", "news", "list 1001", "report", "check", "list 1002",
                                                    "report", "check"}));
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

TEST(FileWork, WorkBeyondTheWaitingCapIsDroppedWithOneDiagnostic) {
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false, open = false;
    int done = 0;
    auto held = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        started = true;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
        ++done;
    };
    test::CapturedDiagnostics diagnostics;
    FileWorkQueue worker(3);
    ASSERT_TRUE(worker.post(held));
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return started; }));
    }
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(worker.post(held)) << i;  // three wait behind the one at work
    EXPECT_FALSE(worker.post(held));
    EXPECT_FALSE(worker.post(held));
    // Said once for the run of dropped work, not once per packet.
    const std::string said = diagnostics.text();
    EXPECT_NE(said.find("Packet dropped: work still waiting: 3"), std::string::npos) << said;
    EXPECT_EQ(said.find("Packet dropped", said.find("Packet dropped") + 1), std::string::npos) << said;
    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
    }
    changed.notify_all();
    worker.waitUntilIdle();
    EXPECT_EQ(done, 4);
    EXPECT_TRUE(worker.post([] {}));  // taken again once there is room
}

}  // namespace
}  // namespace starfell
