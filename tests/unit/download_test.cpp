// Downloads against a real HTTP server on loopback, the same cases for the
// URL moniker (Windows) and libcurl (Linux): progress, replaced destinations,
// fresh content, a server that is not there.
#include "loopback_store.h"

#include <gtest/gtest.h>

#include "base/file_platform.h"
#include "base/text_utils.h"
#include "test_support.h"
#include "update/download.h"

namespace starfell {
namespace {

using test::CapturedDiagnostics;
using test::ScratchFolder;

class Download : public ::testing::Test {
protected:
    ScratchFolder folder;
    test::LoopbackStore store{""};
};

TEST_F(Download, WholeFileArrivesWithProgressToAHundred) {
    const std::string big = test::patternBytes(3 << 20);
    store.put("big.bin", big);
    CapturedDiagnostics diagnostics;
    downloadFile(downloader, store.url() + "big.bin", folder.narrow() + "big.bin");
    EXPECT_EQ(diagnostics.text(), "");
    EXPECT_EQ(test::readFile(folder.path() / "big.bin"), big);
    EXPECT_EQ(downloadPercent(), 100);
    EXPECT_EQ(test::namesIn(folder.path()), std::vector<std::string>{"big.bin"});
}

TEST_F(Download, ReadOnlyDestinationIsReplacedAndChangedContentFetchedAnew) {
    const std::wstring destination = folder.wide() + L"n\u00E9w.txt";
    const std::wstring url = utf8ToWide(store.url() + "changing.txt");
    test::writeFile(test::pathOf(destination), "stale");
    ASSERT_TRUE(fs::setAttributes(destination, fs::kReadOnly));
    store.put("changing.txt", "version 1");
    downloadFile(downloader, url, destination);
    EXPECT_EQ(test::readFile(test::pathOf(destination)), "version 1");
    // Not the copy a cache kept of the first answer.
    store.put("changing.txt", "version 2");
    downloadFile(downloader, url, destination);
    EXPECT_EQ(test::readFile(test::pathOf(destination)), "version 2");
}

TEST_F(Download, UnreachableServerIsAFailure) {
    test::writeFile(folder.path() / "x.zip", "previous content");
    const std::int32_t percent = downloadPercent();
    CapturedDiagnostics diagnostics;
    // Port 1 on loopback: nothing listens, the connection is refused at once.
    downloadFile(downloader, std::string("http://127.0.0.1:1/x.zip"), folder.narrow() + "x.zip");
    EXPECT_EQ(diagnostics.text().rfind("Download failed for: http://127.0.0.1:1/x.zip HRESULT: -", 0), 0u)
        << diagnostics.text();
    // No bytes, so the bar keeps the figure it showed.
    EXPECT_EQ(downloadPercent(), percent);
    EXPECT_TRUE(test::namesIn(folder.path()).empty());
}

}  // namespace
}  // namespace starfell
