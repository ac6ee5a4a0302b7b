// Downloads through Wine's URL moniker that
// fail on the server's side. Unlike libcurl it reports success for an HTTP error
// status and saves the error page in place of the file, and for a destination
// folder that does not exist; the callers' digest and signature checks notice.
#include "loopback_store.h"

#include <gtest/gtest.h>

#include "test_support.h"
#include "update/download.h"

namespace starfell {
namespace {

using test::CapturedDiagnostics;
using test::ScratchFolder;

TEST(DownloadFailure, ErrorStatusSavesTheErrorPageWithoutADiagnostic) {
    ScratchFolder folder;
    CapturedDiagnostics diagnostics;
    test::downloadMissingAndBroken(folder);
    EXPECT_EQ(diagnostics.text(), "");
    // The previous content is gone either way: a stale file never passes for a fresh one.
    EXPECT_EQ(test::readFile(folder.path() / "missing.zip"), "");
    EXPECT_EQ(test::readFile(folder.path() / "broken"), "server error page");
}

TEST(DownloadFailure, UnwritableFolderLeavesNoFile) {
    ScratchFolder folder;
    test::LoopbackStore store("");
    store.put("big.bin", test::patternBytes(1 << 20));
    downloadFile(downloader, store.url() + "big.bin", folder.narrow() + "no\\such\\folder\\big.bin");
    EXPECT_TRUE(test::namesIn(folder.path()).empty());
}

}  // namespace
}  // namespace starfell
