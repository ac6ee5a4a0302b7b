// Downloads that fail on the server's side: an HTTP error
// status, a transfer cut off, an unwritable destination. Each is a failure
// with the negated status or transfer error, and leaves no file.
#include "loopback_store.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "test_support.h"
#include "update/download.h"

namespace starfell {
namespace {

using test::CapturedDiagnostics;
using test::ScratchFolder;

TEST(DownloadFailure, ErrorStatusIsAFailureAndLeavesNoFile) {
    ScratchFolder folder;
    CapturedDiagnostics diagnostics;
    const std::string url = test::downloadMissingAndBroken(folder);
    EXPECT_EQ(diagnostics.text(), "Download failed for: " + url + "missing.zip HRESULT: -404\n" +
                                      "Download failed for: " + url + "broken HRESULT: -500\n");
    EXPECT_TRUE(test::namesIn(folder.path()).empty());
}

TEST(DownloadFailure, UnwritableFolderIsAFailureAndAHalfDownloadIsReplaced) {
    ScratchFolder folder;
    test::LoopbackStore store("");
    store.put("big.bin", test::patternBytes(1 << 20));
    CapturedDiagnostics diagnostics;
    downloadFile(downloader, store.url() + "big.bin", folder.narrow() + "no/such/folder/big.bin");
    EXPECT_EQ(diagnostics.text().rfind("Download failed for: " + store.url() + "big.bin HRESULT: -", 0), 0u)
        << diagnostics.text();
    // The transfer's own partial file, left by a launcher killed mid-transfer.
    test::writeFile(folder.path() / "big.bin.partial", "cut off");
    downloadFile(downloader, store.url() + "big.bin", folder.narrow() + "big.bin");
    EXPECT_EQ(test::readFile(folder.path() / "big.bin"), test::patternBytes(1 << 20));
    EXPECT_EQ(test::namesIn(folder.path()), std::vector<std::string>{"big.bin"});
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

TEST(DownloadFailure, TransferCutOffByTheServerLeavesNoFile) {
    ScratchFolder folder;
    CutOffServer cutOff;
    test::writeFile(folder.path() / "cut.zip", "previous content");
    CapturedDiagnostics diagnostics;
    downloadFile(downloader, cutOff.url(), folder.narrow() + "cut.zip");
    EXPECT_EQ(diagnostics.text(), "Download failed for: " + cutOff.url() + " HRESULT: -18\n");
    EXPECT_TRUE(test::namesIn(folder.path()).empty());
}

}  // namespace
}  // namespace starfell
