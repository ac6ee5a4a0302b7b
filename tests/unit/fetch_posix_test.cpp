// fetchFile against scripted HTTP stores on loopback: a cut-off file resumed
// with a conditional range request, a changed file and a store without ranges
// starting over, mirrors that are down or serve a refused file; through all of
// them, the digest taken on the way in is the finished file's.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/text_utils.h"
#include "test_support.h"
#include "update/download.h"

namespace starfell {
namespace {

using test::CapturedDiagnostics;
using test::ScratchFolder;

// What the store saw of one request, and how many body bytes it sent back.
struct SeenRequest {
    std::string head;
    size_t bodyBytesSent = 0;
    std::string header(const std::string& name) const {
        const size_t at = head.find("\r\n" + name + ": ");
        if (at == std::string::npos) return {};
        const size_t start = at + name.size() + 4;
        return head.substr(start, head.find("\r\n", start) - start);
    }
};

// An HTTP store whose every answer is written by the test: `answer` gets the
// request's number (from 0) and head and returns the header block and the
// body bytes to send; `cutAfter` bytes of body, when set, end the connection
// early. Each answer first waits a little, as a store across a network would.
class ScriptedStore {
public:
    struct Answer {
        std::string head;
        std::string body;
        size_t cutAfter = std::string::npos;
    };
    using Script = std::function<Answer(int number, const std::string& head)>;

    explicit ScriptedStore(Script script) : script_(std::move(script)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 8);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedStore() {
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
    }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    std::vector<SeenRequest> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void serve() {
        for (int number = 0;; ++number) {
            const int connection = accept(listener_, nullptr, nullptr);
            if (connection < 0) return;
            std::string head;
            char piece[4096];
            while (head.find("\r\n\r\n") == std::string::npos) {
                const ssize_t got = recv(connection, piece, sizeof piece, 0);
                if (got <= 0) break;
                head.append(piece, static_cast<size_t>(got));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            const Answer answer = script_(number, head);
            const std::string body = answer.body.substr(0, answer.cutAfter);
            const std::string bytes = answer.head + "\r\n" + body;
            (void)send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back({head, body.size()});
            }
            close(connection);
        }
    }

    Script script_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<SeenRequest> requests_;
};

std::string fullAnswer(const std::string& body, const std::string& tag) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nETag: " + tag +
           "\r\nConnection: close\r\n";
}

// Honours "Range: bytes=N-" when If-Range names `tag`, as a static web server does.
ScriptedStore::Answer rangedAnswer(const std::string& head, const std::string& body, const std::string& tag) {
    SeenRequest request{head};
    const std::string range = request.header("Range");
    if (range.rfind("bytes=", 0) != 0 || request.header("If-Range") != tag) return {fullAnswer(body, tag), body};
    const size_t from = std::stoul(range.substr(6));
    return {"HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(body.size() - from) +
                "\r\nContent-Range: bytes " + std::to_string(from) + "-" + std::to_string(body.size() - 1) + "/" +
                std::to_string(body.size()) + "\r\nETag: " + tag + "\r\nConnection: close\r\n",
            body.substr(from)};
}

class Fetch : public ::testing::Test {
protected:
    std::wstring destination() const { return folder.wide() + L"1001.zip"; }
    std::string fetched() const { return test::readFile(folder.path() / "1001.zip"); }
    ScratchFolder folder;
    Downloader progress;
    const std::string file = test::patternBytes(400000);

    // Stands in for the signature check: notes whether each digest handed
    // over is the BLAKE2b-512 of the file as it lies under its temporary
    // name, and that nothing has the final name before the verdict.
    std::vector<bool> digestsRight;
    const AcceptDownload checkDigest = [this](const std::wstring& path, const std::string&, const std::string&,
                                              const FileDigest* digest) {
        const std::string content = test::readFile(test::pathOf(path));
        digestsRight.push_back(test::isDigestOf(digest, content) && !std::filesystem::exists(test::pathOf(destination())));
        return content != "forged";
    };
};

TEST_F(Fetch, CutOffFileIsResumedWithAConditionalRangeAndProgressCountsTheWholeFile) {
    ScriptedStore store([&](int number, const std::string& head) {
        if (number == 0) return ScriptedStore::Answer{fullAnswer(file, "\"v1\""), file, 150000};
        return rangedAnswer(head, file, "\"v1\"");
    });
    CapturedDiagnostics diagnostics;
    EXPECT_TRUE(fetchFile(progress, {store.base()}, "patches/1001.zip", destination(), checkDigest));
    EXPECT_EQ(fetched(), file);
    EXPECT_EQ(digestsRight, std::vector<bool>{true});
    const auto requests = store.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].header("Range"), "bytes=150000-");
    EXPECT_EQ(requests[1].header("If-Range"), "\"v1\"");
    EXPECT_EQ(requests[0].bodyBytesSent + requests[1].bodyBytesSent, file.size());
    EXPECT_EQ(progress.percent, 100);
    EXPECT_EQ(diagnostics.text(), "Download failed for: " + store.base() + "patches/1001.zip HRESULT: -18\n");
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "1001.zip.partial"));
}

TEST_F(Fetch, PartialFileKeptByAnEarlierRunIsResumed) {
    ScriptedStore cutting([&](int, const std::string&) {
        return ScriptedStore::Answer{fullAnswer(file, "\"v1\""), file, 100000};
    });
    CapturedDiagnostics diagnostics;
    EXPECT_FALSE(fetchFile(progress, {cutting.base()}, "patches/1001.zip", destination()));
    EXPECT_EQ(cutting.requests().size(), static_cast<size_t>(kAttemptsPerBase));
    ScriptedStore store([&](int, const std::string& head) { return rangedAnswer(head, file, "\"v1\""); });
    EXPECT_TRUE(fetchFile(progress, {store.base()}, "patches/1001.zip", destination(), checkDigest));
    EXPECT_EQ(fetched(), file);
    EXPECT_EQ(digestsRight, std::vector<bool>{true});  // the kept bytes read back, the rest as it came
    // Each try of the store that ignores ranges started over: 100000 bytes were kept.
    EXPECT_EQ(store.requests().at(0).header("Range"), "bytes=100000-");
}

TEST_F(Fetch, ChangedFileAndStoreWithoutRangesStartOver) {
    const std::string changed = "new" + test::patternBytes(300000);  // differs from the first byte on
    ScriptedStore changing([&](int number, const std::string& head) {
        if (number == 0) return ScriptedStore::Answer{fullAnswer(file, "\"v1\""), file, 150000};
        return rangedAnswer(head, changed, "\"v2\"");
    });
    ScriptedStore ignoring([&](int number, const std::string&) {
        return ScriptedStore::Answer{fullAnswer(file, "\"v1\""), file, number == 0 ? 150000 : std::string::npos};
    });
    CapturedDiagnostics diagnostics;
    EXPECT_TRUE(fetchFile(progress, {changing.base()}, "patches/1001.zip", destination(), checkDigest));
    EXPECT_EQ(fetched(), changed);
    EXPECT_TRUE(fetchFile(progress, {ignoring.base()}, "patches/1001.zip", destination(), checkDigest));
    EXPECT_EQ(fetched(), file);
    EXPECT_EQ(digestsRight, (std::vector<bool>{true, true}));
    EXPECT_EQ(ignoring.requests().at(1).header("Range"), "bytes=150000-");
}

TEST_F(Fetch, MirrorsAreTriedInOrderUntilOneServesAnAcceptedFile) {
    ScriptedStore missing([](int, const std::string&) {
        return ScriptedStore::Answer{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n", "not found"};
    });
    ScriptedStore forged([](int, const std::string&) {
        return ScriptedStore::Answer{fullAnswer("forged", "\"f\""), "forged"};
    });
    const std::string larger = file + "x";
    ScriptedStore oversized([&](int, const std::string&) {
        return ScriptedStore::Answer{fullAnswer(larger, "\"o\""), larger};
    });
    ScriptedStore good([&](int, const std::string& head) { return rangedAnswer(head, file, "\"v1\""); });
    const std::string down = "http://127.0.0.1:1/";
    std::vector<std::string> offered;
    const AcceptDownload accept = [&](const std::wstring& path, const std::string& base, const std::string& storePath,
                                      const FileDigest* digest) {
        offered.push_back(base + storePath);
        return checkDigest(path, base, storePath, digest);
    };
    CapturedDiagnostics diagnostics;
    EXPECT_TRUE(fetchFile(progress, {down, missing.base(), forged.base(), oversized.base(), good.base()},
                          "patches/1001.zip", destination(), accept, file.size()));
    EXPECT_EQ(fetched(), file);
    EXPECT_EQ(offered, (std::vector<std::string>{forged.base() + "patches/1001.zip", good.base() + "patches/1001.zip"}));
    EXPECT_EQ(digestsRight, (std::vector<bool>{true, true}));
    // A store that is down is tried again; one that has no such file, sends
    // more than the limit, or whose file is refused, is not.
    EXPECT_EQ(missing.requests().size(), 1u);
    EXPECT_EQ(forged.requests().size(), 1u);
    EXPECT_EQ(oversized.requests().size(), 1u);
    const std::string lines = diagnostics.text();
    EXPECT_NE(lines.find("Giving up on download base: " + down + " for: patches/1001.zip\n"), std::string::npos);
    EXPECT_NE(lines.find("Download failed for: " + missing.base() + "patches/1001.zip HRESULT: -404\n"), std::string::npos);
    EXPECT_NE(lines.find("Download refused from: " + forged.base() + "patches/1001.zip\n"), std::string::npos);
    EXPECT_NE(lines.find("Download refused, larger than 400000 bytes: " + oversized.base() + "patches/1001.zip\n"),
              std::string::npos);
    size_t downAttempts = 0;
    for (size_t at = 0; (at = lines.find("Download failed for: " + down, at)) != std::string::npos; ++at) ++downAttempts;
    EXPECT_EQ(downAttempts, static_cast<size_t>(kAttemptsPerBase));

    // Every mirror down: nothing at the destination, each base named once.
    CapturedDiagnostics again;
    EXPECT_FALSE(fetchFile(progress, {down, missing.base()}, "patches/1002.zip", folder.wide() + L"1002.zip"));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "1002.zip"));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "1002.zip.partial"));  // the 404's empty body
    EXPECT_NE(again.text().find("Giving up on download base: " + missing.base() + " for: patches/1002.zip\n"),
              std::string::npos);
}

// A link planted where the partial file or its validator lie (the player's
// own files, or another program's) is never written or read through: a kept
// partial file that is a link is dropped, a validator that is a link is not
// sent to the store.
TEST_F(Fetch, LinksAtThePartialFileAndItsValidatorAreNotFollowed) {
    ScratchFolder outside;
    const std::filesystem::path victim = outside.path() / "victim.txt", secret = outside.path() / "secret.txt";
    test::writeFile(victim, "untouched");
    test::writeFile(secret, "\"secret\"");
    const std::filesystem::path partial = folder.path() / "1001.zip.partial";
    std::filesystem::create_symlink(victim, partial);
    test::writeFile(folder.path() / "1001.zip.partial.tag", "\"v1\"");
    ScriptedStore store([&](int, const std::string& head) { return rangedAnswer(head, file, "\"v1\""); });
    CapturedDiagnostics diagnostics;
    EXPECT_FALSE(fetchFile(progress, {store.base()}, "patches/1001.zip", destination(), checkDigest));
    EXPECT_TRUE(store.requests().empty());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(partial)));

    std::filesystem::create_symlink(victim, partial);
    std::filesystem::create_symlink(secret, folder.path() / "1001.zip.partial.tag");
    EXPECT_TRUE(fetchFile(progress, {store.base()}, "patches/1001.zip", destination(), checkDigest));
    EXPECT_EQ(fetched(), file);
    ASSERT_EQ(store.requests().size(), 1u);
    EXPECT_EQ(store.requests()[0].header("If-Range"), "");
    EXPECT_EQ(test::readFile(victim), "untouched");
}

}  // namespace
}  // namespace starfell
