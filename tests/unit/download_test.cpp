// Downloads: what an answer means and where its body goes, decided without a
// network; then whole transfers against a real HTTP server on loopback, the
// same cases for the URL moniker (Windows) and libcurl (Linux).
#include "loopback_store.h"

#include <gtest/gtest.h>

#include "base/file_platform.h"
#include "base/text_utils.h"
#include "test_support.h"
#include "update/download.h"
#include "update/download_platform.h"

namespace starfell {
namespace {

using download_platform::AnswerHead;
using download_platform::Attempt;
using download_platform::BodyWriter;
using download_platform::classify;
using download_platform::Transport;
using test::CapturedDiagnostics;
using test::ScratchFolder;

// The partial file in memory, starting with `bytes` kept.
class MemoryFile : public download_platform::PartialFile {
public:
    explicit MemoryFile(std::string bytes) : bytes(std::move(bytes)) {}
    std::uint64_t size() override { return bytes.size(); }
    bool seek(std::uint64_t offset) override {
        at = offset;
        return true;
    }
    bool truncateHere() override {
        bytes.resize(at);
        return true;
    }
    bool write(const char* data, std::size_t size) override {
        if (failWrites) return false;
        bytes.replace(at, size, data, size);
        at += size;
        return true;
    }
    bool close() override { return true; }
    std::string bytes;
    std::uint64_t at = 0;
    bool failWrites = false;
};

AnswerHead head(long status, const std::string& rangeStart = {}, const std::string& tag = "\"v2\"") {
    AnswerHead answer;
    answer.status = status;
    answer.rangeStart = rangeStart;
    answer.entityTag = tag;
    return answer;
}

TEST(AnswerClassification, BodiesGoAfterKeptBytesOnlyWhenTheRangeContinuesThem) {
    {  // 206 from the kept length: appended, validator kept
        MemoryFile file("abc");
        BodyWriter body(file, 3, nullptr, 100);
        ASSERT_TRUE(body.write(head(206, "3"), "def", 3));
        std::string validator = "\"v1\"";
        EXPECT_EQ(classify("u", head(206, "3"), body, Transport::Done, 0, validator), Attempt::Complete);
        EXPECT_EQ(file.bytes, "abcdef");
        EXPECT_EQ(validator, "\"v1\"");
    }
    {  // a full answer replaces the kept bytes and brings its own validator
        MemoryFile file("stale bytes");
        BodyWriter body(file, 11, nullptr, 100);
        ASSERT_TRUE(body.write(head(200), "new", 3));
        std::string validator = "\"v1\"";
        EXPECT_EQ(classify("u", head(200), body, Transport::Done, 0, validator), Attempt::Complete);
        EXPECT_EQ(file.bytes, "new");
        EXPECT_EQ(validator, "\"v2\"");
    }
    {  // a weak tag cannot vouch for ranges: the date stands in
        MemoryFile file("");
        BodyWriter body(file, 0, nullptr, 100);
        AnswerHead weak = head(200, "", "W/\"v2\"");
        weak.lastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
        ASSERT_TRUE(body.write(weak, "x", 1));
        std::string validator;
        classify("u", weak, body, Transport::Done, 0, validator);
        EXPECT_EQ(validator, weak.lastModified);
    }
    {  // a range that does not continue the kept bytes: nothing written, start over
        MemoryFile file("abc");
        BodyWriter body(file, 3, nullptr, 100);
        EXPECT_FALSE(body.write(head(206, "0"), "abcdef", 6));
        std::string validator = "\"v1\"";
        CapturedDiagnostics diagnostics;
        EXPECT_EQ(classify("u", head(206, "0"), body, Transport::LocalFailure, 0, validator), Attempt::CutOff);
        EXPECT_EQ(file.bytes, "abc");
        EXPECT_EQ(validator, "");
    }
    {  // a complete answer with an empty body empties the file
        MemoryFile file("abc");
        BodyWriter body(file, 3, nullptr, 100);
        EXPECT_TRUE(body.finishEmpty(head(200)));
        EXPECT_EQ(file.bytes, "");
    }
}

TEST(AnswerClassification, StatusesLimitsAndFailuresDecideTheNextStep) {
    struct Case {
        long status;
        Transport transport;
        Attempt expected;
        bool validatorKept;
    };
    const Case cases[] = {
        {404, Transport::Done, Attempt::Missing, true},     // not here: the next store
        {403, Transport::Done, Attempt::Missing, true},
        {500, Transport::Done, Attempt::CutOff, true},      // the store's own trouble: again
        {503, Transport::Done, Attempt::CutOff, true},
        {408, Transport::Done, Attempt::CutOff, true},
        {429, Transport::Done, Attempt::CutOff, true},
        {416, Transport::Done, Attempt::CutOff, false},     // kept bytes no longer fit
        {200, Transport::Failed, Attempt::CutOff, true},    // cut off mid-way: resume
        {0, Transport::BadAddress, Attempt::Missing, true},
        {0, Transport::LocalFailure, Attempt::LocalFailure, true},
    };
    for (const Case& c : cases) {
        MemoryFile file("kept");
        BodyWriter body(file, 4, nullptr, 100);
        // An error page's body is dropped: it never replaces kept bytes.
        EXPECT_TRUE(body.write(head(c.status), "error page", 10));
        std::string validator = "\"v1\"";
        CapturedDiagnostics diagnostics;
        EXPECT_EQ(classify("http://s/f", head(c.status), body, c.transport, -7, validator), c.expected) << c.status;
        EXPECT_EQ(validator.empty(), !c.validatorKept) << c.status;
        if (c.status >= 400) {
            EXPECT_EQ(file.bytes, "kept") << c.status;
            EXPECT_EQ(diagnostics.text(), "Download failed for: http://s/f HRESULT: -" + std::to_string(c.status) +
                                              "\n");
        }
    }
    {  // past the size limit: refused, the next store is tried
        MemoryFile file("");
        BodyWriter body(file, 0, nullptr, 5);
        EXPECT_TRUE(body.write(head(200), "12345", 5));
        EXPECT_FALSE(body.write(head(200), "6", 1));
        std::string validator;
        CapturedDiagnostics diagnostics;
        EXPECT_EQ(classify("http://s/f", head(200), body, Transport::LocalFailure, -23, validator), Attempt::TooLarge);
        EXPECT_EQ(diagnostics.text(), "Download refused, larger than 5 bytes: http://s/f\n");
        EXPECT_EQ(file.bytes, "12345");
    }
    {  // a write that fails is ours: no store can help
        MemoryFile file("");
        file.failWrites = true;
        BodyWriter body(file, 0, nullptr, 100);
        EXPECT_FALSE(body.write(head(200), "x", 1));
        std::string validator;
        CapturedDiagnostics diagnostics;
        EXPECT_EQ(classify("u", head(200), body, Transport::Done, 0, validator), Attempt::LocalFailure);
    }
}

class Download : public ::testing::Test {
protected:
    bool fetch(const std::string& name, const std::wstring& destination) {
        return fetchFile(downloader, {store.url()}, name, destination);
    }
    ScratchFolder folder;
    test::LoopbackStore store{""};
};

TEST_F(Download, WholeFileArrivesWithProgressToAHundred) {
    const std::string big = test::patternBytes(3 << 20);
    store.put("big.bin", big);
    CapturedDiagnostics diagnostics;
    EXPECT_TRUE(fetch("big.bin", folder.wide() + L"big.bin"));
    EXPECT_EQ(diagnostics.text(), "");
    EXPECT_EQ(test::readFile(folder.path() / "big.bin"), big);
    EXPECT_EQ(downloadPercent(), 100);
    EXPECT_EQ(test::namesIn(folder.path()), std::vector<std::string>{"big.bin"});
}

TEST_F(Download, ReadOnlyDestinationIsReplacedAndChangedContentFetchedAnew) {
    const std::wstring destination = folder.wide() + L"n\u00E9w.txt";
    test::writeFile(test::pathOf(destination), "stale");
    ASSERT_TRUE(fs::setAttributes(destination, fs::kReadOnly));
    store.put("changing.txt", "version 1");
    EXPECT_TRUE(fetch("changing.txt", destination));
    EXPECT_EQ(test::readFile(test::pathOf(destination)), "version 1");
    // Not the copy a cache kept of the first answer.
    store.put("changing.txt", "version 2");
    EXPECT_TRUE(fetch("changing.txt", destination));
    EXPECT_EQ(test::readFile(test::pathOf(destination)), "version 2");
}

TEST_F(Download, ErrorStatusesAndAnUnwritableFolderLeaveNoFile) {
    store.answer("broken", 500, "server error page");
    test::writeFile(folder.path() / "missing.zip", "previous content");
    CapturedDiagnostics diagnostics;
    EXPECT_FALSE(fetch("missing.zip", folder.wide() + L"missing.zip"));
    EXPECT_FALSE(fetch("broken", folder.wide() + L"broken"));
    EXPECT_NE(diagnostics.text().find("Download failed for: " + store.url() + "missing.zip HRESULT: -404\n"),
              std::string::npos) << diagnostics.text();
    EXPECT_NE(diagnostics.text().find("Download failed for: " + store.url() + "broken HRESULT: -500\n"),
              std::string::npos) << diagnostics.text();
    store.put("big.bin", test::patternBytes(1 << 20));
    EXPECT_FALSE(fetch("big.bin", folder.wide() + utf8ToWide(std::string("no") + fs::kSeparator + "big.bin")));
    EXPECT_TRUE(test::namesIn(folder.path()).empty());
}

TEST_F(Download, UnreachableServerIsAFailure) {
    test::writeFile(folder.path() / "x.zip", "previous content");
    const std::int32_t percent = downloadPercent();
    CapturedDiagnostics diagnostics;
    // Port 1 on loopback: nothing listens, the connection is refused at once.
    EXPECT_FALSE(fetchFile(downloader, {"http://127.0.0.1:1/"}, "x.zip", folder.wide() + L"x.zip"));
    EXPECT_EQ(diagnostics.text().rfind("Download failed for: http://127.0.0.1:1/x.zip HRESULT: -", 0), 0u)
        << diagnostics.text();
    // No bytes, so the bar keeps the figure it showed.
    EXPECT_EQ(downloadPercent(), percent);
    EXPECT_TRUE(test::namesIn(folder.path()).empty());
}

}  // namespace
}  // namespace starfell
