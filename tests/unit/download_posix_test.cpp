// Downloads against a real HTTP server on loopback: progress, error statuses,
// replaced destinations, fresh content, transfers cut off, no partial files.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "base/file_platform.h"
#include "base/text_utils.h"
#include "test_support.h"
#include "update/download.h"
#include "update/downloader_posix.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;
using test::CapturedDiagnostics;
using test::ScratchFolder;

class LoopbackServer {
public:
    LoopbackServer() {
        server_.Get("/big.bin", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content(big, "application/octet-stream");
        });
        server_.Get("/changing.txt", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content("version " + std::to_string(++served_), "text/plain");
        });
        server_.Get("/broken", [](const httplib::Request&, httplib::Response& response) {
            response.status = 500;
            response.set_content("server error page", "text/html");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LoopbackServer() {
        server_.stop();
        thread_.join();
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    const std::string big = test::patternBytes(3 << 20);

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::atomic<int> served_{0};
};

TEST(DownloaderPercent, IsNeverResetBetweenReports) {
    Downloader callback;
    callback.percent = 100;
    callback.OnProgress(0, 5000, 0, nullptr);
    EXPECT_EQ(callback.percent, 100);
    callback.OnProgress(2500, 5000, 0, nullptr);
    EXPECT_EQ(callback.percent, 50);
}

class Download : public ::testing::Test {
protected:
    // Only the expected files: no temporary leftovers.
    std::vector<std::string> folderContents() const {
        std::vector<std::string> names;
        for (const auto& entry : fsys::directory_iterator(folder.path())) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static LoopbackServer& server() {
        static LoopbackServer instance;
        return instance;
    }
    ScratchFolder folder;
};

TEST_F(Download, WholeFileArrivesWithProgressToAHundred) {
    // A half download left by a launcher killed mid-transfer is replaced.
    test::writeFile(folder.path() / "big.bin.partial", "cut off");
    Downloader callback;
    CapturedDiagnostics diagnostics;
    downloadFile(callback, server().url("/big.bin"), folder.narrow() + "big.bin");
    EXPECT_EQ(diagnostics.text(), "");
    EXPECT_EQ(test::readFile(folder.path() / "big.bin"), server().big);
    EXPECT_EQ(callback.percent, 100);
    EXPECT_EQ(folderContents(), std::vector<std::string>{"big.bin"});
}

TEST_F(Download, ReadOnlyDestinationIsReplacedAndChangedContentFetchedAnew) {
    const std::wstring destination = folder.wide() + L"n\u00E9w.txt";
    test::writeFile(test::pathOf(destination), "stale");
    ASSERT_TRUE(fs::setAttributes(destination, fs::kReadOnly));
    downloadFile(downloader, utf8ToWide(server().url("/changing.txt")), destination);
    const std::string first = test::readFile(test::pathOf(destination));
    downloadFile(downloader, utf8ToWide(server().url("/changing.txt")), destination);
    const std::string second = test::readFile(test::pathOf(destination));
    EXPECT_EQ(first.rfind("version ", 0), 0u);
    EXPECT_NE(first, second);
}

TEST_F(Download, ErrorStatusIsAFailureAndLeavesNoFile) {
    test::writeFile(folder.path() / "missing.zip", "previous content");
    CapturedDiagnostics diagnostics;
    downloadFile(downloader, server().url("/missing.zip"), folder.narrow() + "missing.zip");
    downloadFile(downloader, server().url("/broken"), folder.narrow() + "broken");
    EXPECT_EQ(diagnostics.text(), "Download failed for: " + server().url("/missing.zip") + " HRESULT: -404\n" +
                                      "Download failed for: " + server().url("/broken") + " HRESULT: -500\n");
    EXPECT_TRUE(folderContents().empty());
}

TEST_F(Download, UnreachableServerAndUnwritableFolderAreFailures) {
    Downloader callback;
    callback.percent = 42;
    CapturedDiagnostics diagnostics;
    // Port 1 on loopback: nothing listens, the connection is refused at once.
    downloadFile(callback, std::string("http://127.0.0.1:1/x.zip"), folder.narrow() + "x.zip");
    downloadFile(callback, server().url("/big.bin"), folder.narrow() + "no/such/folder/big.bin");
    const std::string lines = diagnostics.text();
    EXPECT_NE(lines.find("Download failed for: http://127.0.0.1:1/x.zip HRESULT: -7\n"), std::string::npos);
    EXPECT_NE(lines.find("Download failed for: " + server().url("/big.bin") + " HRESULT: -"), std::string::npos);
    EXPECT_EQ(callback.percent, 42);
    EXPECT_TRUE(folderContents().empty());
}


// Accepts one connection on loopback, announces more body than it sends and
// hangs up: a transfer cut off by the server.
class CutOffServer {
public:
    CutOffServer() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 1);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            const int connection = accept(listener_, nullptr, nullptr);
            if (connection < 0) return;
            char request[4096];
            (void)recv(connection, request, sizeof request, 0);
            const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'z');
            (void)send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
            close(connection);
        });
    }
    ~CutOffServer() {
        thread_.join();
        close(listener_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/cut.zip"; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

TEST_F(Download, TransferCutOffByTheServerLeavesNoFile) {
    CutOffServer cutOff;
    test::writeFile(folder.path() / "cut.zip", "previous content");
    CapturedDiagnostics diagnostics;
    downloadFile(downloader, cutOff.url(), folder.narrow() + "cut.zip");
    EXPECT_EQ(diagnostics.text(), "Download failed for: " + cutOff.url() + " HRESULT: -18\n");
    EXPECT_TRUE(folderContents().empty());
}

}  // namespace
}  // namespace starfell
