// fetchFile through the URL moniker under Wine, which writes the partial file
// itself: kept bytes with a validator are continued, kept bytes without one
// start over, and either way the digest taken while the file was written is
// the finished file's.
#include "loopback_store.h"

#include <gtest/gtest.h>

#include "test_support.h"
#include "update/download.h"

namespace starfell {
namespace {

using test::CapturedDiagnostics;
using test::ScratchFolder;

TEST(FetchThroughTheMoniker, KeptBytesAreContinuedOrReplacedAndTheDigestIsTheFinishedFiles) {
    ScratchFolder folder;
    test::LoopbackStore store("");
    store.setDelay(30);  // as a store across a network answers
    const std::string file = test::patternBytes(400000);
    store.putUnsigned("patches/1001.zip", file);
    std::vector<bool> digestsRight;
    const AcceptDownload checkDigest = [&](const std::wstring& path, const std::string&, const std::string&,
                                        const FileDigest* digest) {
        const std::string content = test::readFile(test::pathOf(path));
        digestsRight.push_back(test::isDigestOf(digest, content));
        return true;
    };
    // Bytes that differ from the store's show that they were kept, not fetched again.
    const std::string kept(100000, 'k');
    test::writeFile(folder.path() / "continued.zip.partial", kept);
    test::writeFile(folder.path() / "continued.zip.partial.tag", "\"v1\"");
    test::writeFile(folder.path() / "restarted.zip.partial", kept + kept);
    Downloader progress;
    CapturedDiagnostics diagnostics;
    EXPECT_TRUE(fetchFile(progress, {store.url()}, "patches/1001.zip", folder.wide() + L"continued.zip", checkDigest));
    EXPECT_EQ(test::readFile(folder.path() / "continued.zip"), kept + file.substr(kept.size()));
    EXPECT_EQ(progress.percent, 100);
    EXPECT_TRUE(fetchFile(progress, {store.url()}, "patches/1001.zip", folder.wide() + L"restarted.zip", checkDigest));
    EXPECT_EQ(test::readFile(folder.path() / "restarted.zip"), file);
    EXPECT_EQ(digestsRight, (std::vector<bool>{true, true}));
    EXPECT_EQ(diagnostics.text(), "");
    EXPECT_EQ(test::namesIn(folder.path()), (std::vector<std::string>{"continued.zip", "restarted.zip"}));
}

}  // namespace
}  // namespace starfell
