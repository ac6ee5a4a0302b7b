// File digests against known values, including the 1024-byte piece edges.
#include <gtest/gtest.h>

#include "integrity/file_md5.h"
#include "test_support.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;

TEST(FileMd5, KnownDigestsAtPieceEdges) {
    test::ScratchFolder folder;
    const struct {
        size_t size;
        const char* digest;
    } cases[] = {
        {0, "d41d8cd98f00b204e9800998ecf8427e"},
        {1024, "84d769de0d4a5450f9ca6ca2eab3234a"},
        {1025, "bf8516a41091eed47cb5c49723ae5be9"},
        {1 << 20, "bac259e6f14c8b831c02f85042e13805"},
    };
    for (const auto& c : cases) {
        const fsys::path path = folder.path() / ("f" + std::to_string(c.size));
        test::writeFile(path, test::patternBytes(c.size));
        EXPECT_EQ(fileMd5(test::wideOf(path)), c.digest) << c.size << " bytes";
    }
}

TEST(FileMd5, NonAsciiPath) {
    test::ScratchFolder folder;
    const fsys::path path = test::pathOf(folder.wide() + L"\u00E9t\u00E9 \u65E5.dat");
    test::writeFile(path, "");
    EXPECT_EQ(fileMd5(test::wideOf(path)), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(FileMd5, EveryFailureIsNone) {
    test::ScratchFolder folder;
    EXPECT_EQ(fileMd5(folder.wide() + L"missing"), "None");
    EXPECT_EQ(fileMd5(folder.wide()), "None");  // a directory
    EXPECT_EQ(fileMd5(L""), "None");
    // Opens, then fails to read: not the digest of the nothing read so far.
    EXPECT_EQ(fileMd5(test::fileFailingToRead()), "None");
}

TEST(DigestToHex, ZeroPaddedLowercaseWithoutSignExtension) {
    const unsigned char bytes[] = {0x0a, 0xff, 0x00, 0x80};
    EXPECT_EQ(digestToHex(bytes, sizeof(bytes)), "0aff0080");
}

}  // namespace
}  // namespace starfell
