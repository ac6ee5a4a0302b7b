// Packets that arrive close together: the real server connection against a
// loopback game server and HTTP store, so the receive thread, the file worker,
// verification and a reader standing in for the UI all meet on the shared state.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/socket_platform.h"
#include "core/launcher_state.h"
#include "core/packet.h"
#include "core/server_connection.h"
#include "integrity/file_md5.h"
#include "integrity/verify_files.h"
#include "loopback_store.h"
#include "test_packets.h"
#include "test_support.h"
#include "update/download.h"
#include "update/patches.h"
#include "update/self_update.h"
#include "zip_builder.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

using test::Entry;
using test::fileCheckPacket;
using test::field;
using test::md5Of;
using test::newsPacket;
using test::patchListPacket;
using test::typed;
using test::waitFor;

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
    WorkContext context;
    std::atomic<int> patchListsDone{0}, fileChecksDone{0};
};
Workplace* workplace = nullptr;

void patchListHandler(const std::string& packet) {
    applyPatchList(packet, workplace->context);
    ++workplace->patchListsDone;
}

void fileCheckHandler(const std::string& packet) {
    verifyGameFiles(packet, workplace->context);
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
    static Workplace place;  // outlives the test: the file worker may still read it
    // Patch archives and fresh file copies, each answer a little slow so that the
    // work of one packet is still going on when the next packets arrive.
    test::LoopbackStore store("patches/");
    store.setDelay(150);
    place.context = workContextFor(game.wide(), store.url());
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
                                        {"data/p1.txt", "data/p1.txt", md5Of(p1)},
                                        {"data/p2.txt", "data/p2.txt", md5Of(p2)}};
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
