// A patch list whose earlier patch cannot be fetched: later patches still
// apply, but the version file stays behind the failed one until a later run
// fetches it. Real downloads from a loopback HTTP store.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "core/launcher_state.h"
#include "core/packet.h"
#include "test_support.h"
#include "update/patches.h"
#include "zip_builder.h"

namespace starfell {
namespace {

using test::CapturedDiagnostics;
using test::ScratchFolder;
using test::ZipBuilder;

// Serves /patches/N.zip from a map that the test may change between runs.
class PatchStore {
public:
    PatchStore() {
        server_.Get(R"(/patches/(\d+)\.zip)", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto found = archives_.find(request.matches[1]);
            if (found == archives_.end()) {
                response.status = 404;
                return;
            }
            response.set_content(found->second, "application/zip");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~PatchStore() {
        server_.stop();
        thread_.join();
    }
    void put(const std::string& number, const std::string& archive) {
        std::lock_guard<std::mutex> lock(mutex_);
        archives_[number] = archive;
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    std::map<std::string, std::string> archives_;
};

std::string patchList(const std::string& numbers) {
    std::string packet(4, '\0');
    writePacketType(packet, PacketType::PatchList);
    return packet + static_cast<char>(numbers.size()) + numbers;
}

TEST(PatchListVersionFile, FailedPatchHoldsTheVersionFileUntilItIsFetched) {
    ScratchFolder game;
    PatchStore store;
    test::writeFile(game.path() / "version.dat", "1001");
    const std::string patch1003 = ZipBuilder().file("version.dat", "1003").file("c.txt", "from 1003").bytes();
    store.put("1003", patch1003);

    // 1002 is missing from the store: 1003 still unpacks, the version file does not move.
    {
        CapturedDiagnostics diagnostics;
        applyPatchList(patchList("1002\n1003"), game.wide(), store.url(), false);
        EXPECT_NE(diagnostics.text().find("Version file kept, patch not fully applied: "), std::string::npos);
        EXPECT_EQ(test::readFile(game.path() / "version.dat"), "1001");
        EXPECT_EQ(test::readFile(game.path() / "c.txt"), "from 1003");
        EXPECT_EQ(launcherState.installedVersion(), "1001");
    }

    // The next run fetches both, in order, and only then claims 1003.
    store.put("1002", ZipBuilder().file("version.dat", "1002").file("b.txt", "from 1002").file("c.txt", "old").bytes());
    CapturedDiagnostics diagnostics;
    applyPatchList(patchList("1002\n1003"), game.wide(), store.url(), false);
    EXPECT_EQ(diagnostics.text(), "");
    EXPECT_EQ(test::readFile(game.path() / "version.dat"), "1003");
    EXPECT_EQ(test::readFile(game.path() / "b.txt"), "from 1002");
    EXPECT_EQ(test::readFile(game.path() / "c.txt"), "from 1003");
    EXPECT_EQ(launcherState.installedVersion(), "1003");
}

}  // namespace
}  // namespace starfell
