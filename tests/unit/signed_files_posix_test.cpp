// The signature check between a download and its name, against a loopback
// store whose signatures minisign made: what passes, what is refused (nothing
// left under any name), and a build without a key taking unsigned files.
#include <gtest/gtest.h>

#include <filesystem>

#include "loopback_store.h"
#include "signature_fixtures.h"
#include "test_support.h"
#include "update/download.h"
#include "update/signed_files.h"

namespace starfell {
namespace {

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    return names;
}

class SignedFiles : public ::testing::Test {
protected:
    // Fetches `name` from the store as the launcher would, with its check.
    bool fetchAndCheck(const std::string& name, const minisign::PublicKey* key) {
        return fetchFile(downloader, {store.url()}, "patches/" + name, test::wideOf(test::pathOf(file())),
                         signedDownloadCheckWithKey(key));
    }
    std::string url(const std::string& name) const { return store.url() + "patches/" + name; }
    std::string file() const { return folder.narrow() + "download.bin"; }

    void SetUp() override { ASSERT_TRUE(minisign::parsePublicKey(k_test_key_line, key)); }

    minisign::PublicKey key;
    test::ScratchFolder folder;
    test::LoopbackStore store{"patches/"};
};

TEST_F(SignedFiles, GoodSignaturesPassAndLeaveNoSignatureBehind) {
    store.put("1001.zip", test::patternBytes(200000));
    store.put("1002.zip", test::patternBytes(3000));
    for (const char* name : {"1001.zip", "1002.zip"}) {
        test::CapturedDiagnostics diagnostics;
        EXPECT_TRUE(fetchAndCheck(name, &key)) << name;
        EXPECT_EQ(diagnostics.text(), "");
        EXPECT_TRUE(std::filesystem::exists(test::pathOf(file())));
    }
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"download.bin"});
}

TEST_F(SignedFiles, RefusedFilesAreDeletedWithOneLine) {
    const std::string payload = test::patternBytes(5000);
    store.put("1003.zip", payload);
    store.putUnsigned("1005.zip", payload);  // 1003's signature offered for 1005
    store.putUnsigned("1005.zip.minisig", test::minisignSignature("patches/1003.zip", payload));
    store.putUnsigned("1006.zip", payload);  // no signature at all
    store.putUnsigned("1007.zip", payload);  // one of a megabyte: the transfer stops at 2 KiB
    store.putUnsigned("1007.zip.minisig", std::string(1 << 20, 'A'));
    store.putUnsigned("1008.zip", payload);  // signed for the same name in another folder
    store.putUnsigned("1008.zip.minisig", test::minisignSignature("old/patches/1008.zip", payload));
    const std::pair<const char*, const char*> cases[] = {{"1005.zip", "signature names another file"},
                                                         {"1006.zip", "no signature"},
                                                         {"1007.zip", "no signature"},
                                                         {"1008.zip", "signature names another file"}};
    for (const auto& [name, reason] : cases) {
        test::CapturedDiagnostics diagnostics;
        EXPECT_FALSE(fetchAndCheck(name, &key)) << name;
        // The last lines (after the download's own lines for a 404 or an oversized answer).
        const std::string line = "Signature check failed for: " + url(name) + " (" + reason + ")\n" +
                                 "Download refused from: " + url(name) + "\n" +
                                 "Giving up on download base: " + store.url() + " for: patches/" + name + "\n";
        const std::string text = diagnostics.text();
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), line.size())), line);
        EXPECT_TRUE(namesIn(folder.path()).empty()) << name;
    }
}

TEST_F(SignedFiles, WithoutAKeyUnsignedFilesPassUnasked) {
    store.putUnsigned("1001.zip", "unsigned");
    EXPECT_TRUE(fetchAndCheck("1001.zip", nullptr));
    EXPECT_EQ(test::readFile(test::pathOf(file())), "unsigned");
    EXPECT_EQ(store.allRequests(), std::vector<std::string>{"1001.zip"});
}

TEST_F(SignedFiles, AMissingFileIsNeverAccepted) {
    store.put("1001.zip", "signed");
    const std::wstring absent = test::wideOf(folder.path() / "absent.zip");
    EXPECT_FALSE(signedDownloadCheckWithKey(&key)(absent, store.url(), "patches/1001.zip", nullptr));
    const auto anything = [](const std::wstring&, const std::string&) { return true; };
    EXPECT_FALSE(signedDownloadCheckWithKey(nullptr, anything)(absent, store.url(), "patches/1001.zip", nullptr));
}

}  // namespace
}  // namespace starfell
