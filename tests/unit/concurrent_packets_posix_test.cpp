// Packets that arrive close together: the real server connection against a
// loopback game server and HTTP store, so packet threads, the patch worker,
// verification and a reader standing in for the UI all meet on the shared state.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/packet_handlers.h"
#include "base/socket_platform.h"
#include "core/launcher_state.h"
#include "core/packet.h"
#include "core/server_connection.h"
#include "integrity/file_md5.h"
#include "integrity/verify_files.h"
#include "loopback_store_posix.h"
#include "test_support.h"
#include "update/download.h"
#include "update/patches.h"
#include "update/self_update.h"
#include "zip_builder.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string md5Of(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    return digestToHex(digest, length);
}

std::string typed(PacketType type) {
    std::string packet(4, '\0');
    writePacketType(packet, type);
    return packet;
}

std::string field(const std::string& text) { return static_cast<char>(text.size()) + text; }

std::string newsPacket(const std::vector<std::string>& lines) {
    std::string packet = typed(PacketType::News) + static_cast<char>(lines.size());
    for (const auto& line : lines) packet += field(line);
    return packet;
}

std::string patchListPacket(const std::string& numbers) { return typed(PacketType::PatchList) + field(numbers); }

struct Entry {
    std::string path, downloadName, digests;
};

std::string fileCheckPacket(const std::vector<Entry>& entries) {
    std::string packet = typed(PacketType::FileCheck) + static_cast<char>(entries.size()) + field("files");
    for (const auto& entry : entries) packet += field(entry.path) + field(entry.downloadName) + field(entry.digests);
    return packet;
}

template <typename Predicate>
bool waitFor(Predicate done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// ---------------------------------------------------------------- the game files' turn

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

// ---------------------------------------------------------------- loopback servers

// The game server's side of the one connection. The accepted socket is never
// closed: the launcher's receive loop ends the whole process when it is.
class GameServer {
public:
    GameServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof(address);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("game server cannot listen");
        port_ = ntohs(address.sin_port);
    }
    ~GameServer() { ::close(listener_); }

    std::uint16_t port() const { return port_; }
    bool accept() {
        pollfd ready{listener_, POLLIN, 0};
        if (::poll(&ready, 1, 10000) != 1) return false;
        connection_ = ::accept(listener_, nullptr, nullptr);
        return connection_ >= 0;
    }
    // One send call: one block, or several packets joined when given together.
    void send(const std::string& bytes) const {
        ASSERT_EQ(::send(connection_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    // Whatever arrives within `limit`, up to `size` bytes.
    std::string receive(size_t size, std::chrono::milliseconds limit) const {
        std::string bytes;
        const auto deadline = Clock::now() + limit;
        while (bytes.size() < size) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd ready{connection_, POLLIN, 0};
            if (left <= 0 || ::poll(&ready, 1, static_cast<int>(left)) != 1) break;
            char buffer[1024];
            const ssize_t got = ::recv(connection_, buffer, std::min(sizeof(buffer), size - bytes.size()), 0);
            if (got <= 0) break;
            bytes.append(buffer, static_cast<size_t>(got));
        }
        return bytes;
    }

private:
    int listener_ = -1;
    int connection_ = -1;
    std::uint16_t port_ = 0;
};

// ---------------------------------------------------------------- the real connection

// Where this test's real handlers work, and how many runs have finished.
struct Workplace {
    std::string folder;
    std::wstring wideFolder;
    std::string storeUrl;
    std::atomic<int> patchListsDone{0}, fileChecksDone{0};
};
Workplace* workplace = nullptr;

void patchListHandler(const std::string& packet) {
    applyPatchList(packet, workplace->wideFolder, workplace->storeUrl, false);
    ++workplace->patchListsDone;
}

void fileCheckHandler(const std::string& packet) {
    verifyGameFiles(packet, workplace->folder, workplace->storeUrl, RepairGuard::DownloadAtOnce);
    ++workplace->fileChecksDone;
}

void newsHandler(const std::string& packet) { parseNews(packet, launcherState); }

const PacketHandlers testHandlers{&checkLauncherBuild, &newsHandler, &patchListHandler, &fileCheckHandler,
                                  &sendPatchDone};

TEST(ConcurrentPackets, NewsPatchListsAndFileChecksInQuickSuccession) {
    // The receive loop runs for the rest of the process: one connection per process.
    static bool connected = false;
    if (connected) GTEST_SKIP() << "the launcher's one connection is already in use in this process";
    connected = true;

    test::ScratchFolder game;
    static Workplace place;  // outlives the test: packet threads may still read it
    // Patch archives and fresh file copies, each answer a little slow so that the
    // work of one packet is still going on when the next packets arrive.
    test::LoopbackStore store("patches/");
    store.setDelay(150);
    place.folder = game.narrow();
    place.wideFolder = game.wide();
    place.storeUrl = store.url();
    workplace = &place;

    const std::string p1 = "first patch", p2 = test::patternBytes(40000), a = "fresh a", b = "fresh b";
    store.put("1001.zip", test::ZipBuilder().file("data/p1.txt", p1).bytes());
    store.put("1002.zip", test::ZipBuilder().file("data/p2.txt", p2).bytes());
    store.put("Launcher/a.dat", a);
    store.put("Launcher/b.dat", b);
    test::writeFile(game.path() / "version.dat", "1000");
    test::writeFile(game.path() / "a.dat", "stale a");

    // The UI thread's part: a copy of the shown fields, frame after frame.
    std::atomic<bool> stop{false};
    std::thread ui([&] {
        LauncherSnapshot snapshot;
        while (!stop) {
            launcherState.refreshSnapshot(snapshot);
            volatile std::int32_t percent = downloadPercent();
            (void)percent;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    // Connected and greeted the way start-up does it.
    GameServer server;
    const std::intptr_t socket = net::openTcpSocket();
    ASSERT_NE(socket, net::kNoSocket);
    launcherState.serverSocket = socket;
    launcherState.authorised = 0;
    setPacketHandlers(testHandlers);
    std::thread connecting([&] {
        ASSERT_TRUE(net::connectIPv4(socket, htonl(INADDR_LOOPBACK), server.port()));
        sendHello();
        std::thread(receiveLoop).detach();
    });
    ASSERT_TRUE(server.accept());
    connecting.join();
    const std::string hello = server.receive(kHelloSize, std::chrono::seconds(10));
    ASSERT_EQ(hello.size(), kHelloSize);
    ASSERT_EQ(hello.substr(0, 4), typed(PacketType::Hello));
    server.send(typed(PacketType::Hello) + field("true"));
    ASSERT_TRUE(waitFor([] { return launcherState.authorised.load() == 1; }, std::chrono::seconds(10)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the answer is a block of its own

    const std::vector<Entry> everything{{"a.dat", "a.dat", md5Of(a)},
                                        {"b.dat", "b.dat", md5Of(b)},
                                        {"data/p1.txt", "p1.txt", md5Of(p1)},
                                        {"data/p2.txt", "p2.txt", md5Of(p2)}};
    // Blocks far enough apart that each is received alone, close enough that
    // every run is still busy when the next packet comes.
    const auto next = [&server](const std::string& block) {
        server.send(block);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    };
    next(newsPacket({"one", std::string("cut\0hidden", 10), "after the cut"}));
    next(patchListPacket("1001\n1002"));
    next(fileCheckPacket({everything[0], everything[1]}));
    next(newsPacket({"two"}));
    next(patchListPacket("1001\n1002"));
    next(newsPacket({"three"}) + fileCheckPacket({{"lost.dat", "lost.dat", "0"}}));  // one block, one packet
    next(fileCheckPacket(everything));

    // Two lists, two reports, and nothing else from the launcher.
    const std::string reports = server.receive(2 * kPatchDoneSize, std::chrono::seconds(60));
    std::string report(kPatchDoneSize, '\0');
    writePacketType(report, PacketType::FileCheck);
    EXPECT_EQ(reports, report + report);
    ASSERT_TRUE(waitFor([&] { return place.patchListsDone == 2 && place.fileChecksDone == 2; },
                        std::chrono::seconds(60)));
    EXPECT_EQ(server.receive(1, std::chrono::milliseconds(300)), "");

    // A last list after all that work finds every file right.
    server.send(fileCheckPacket(everything));
    ASSERT_TRUE(waitFor([&] { return place.fileChecksDone == 3; }, std::chrono::seconds(30)));
    stop = true;
    ui.join();

    EXPECT_EQ(launcherState.phase.load(), LauncherPhase::Ready);
    EXPECT_EQ(launcherState.statusText(), "Ready.");
    EXPECT_EQ(launcherState.installedVersion(), "1002");
    EXPECT_EQ(test::readFile(game.path() / "data" / "p1.txt"), p1);
    EXPECT_EQ(test::readFile(game.path() / "data" / "p2.txt"), p2);
    EXPECT_EQ(test::readFile(game.path() / "a.dat"), a);
    EXPECT_EQ(test::readFile(game.path() / "b.dat"), b);
    EXPECT_FALSE(fsys::exists(game.path() / "lost.dat"));
    EXPECT_TRUE(fsys::is_empty(game.path() / "Downloads"));
    // Patch and repair downloads never overlapped.
    EXPECT_EQ(store.mostInFlight(), 1);
    const auto requests = store.requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "1001.zip"), 2);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "Launcher/lost.dat"), 0);

    // The news of three packets, the joined block counting as News alone; a
    // line ends at its NUL and the next line still starts where it was put.
    // Packets may be handled out of order; each packet's lines stay together.
    std::vector<std::string> news = launcherState.newsItems();
    const std::vector<std::string> expected{"one", "cut", "after the cut", "two", "three"};
    for (const std::string& line : expected)
        EXPECT_EQ(std::count(news.begin(), news.end(), line), 1) << line;
    const auto one = std::find(news.begin(), news.end(), "one");
    ASSERT_GE(std::distance(one, news.end()), 3);
    EXPECT_EQ(std::vector<std::string>(one, one + 3), std::vector<std::string>(expected.begin(), expected.begin() + 3));
}

}  // namespace
}  // namespace starfell
