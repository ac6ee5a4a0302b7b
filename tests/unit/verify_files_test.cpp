// The parts of file verification that need no server: which server paths are
// refused, and the status line of a failed run.
#include <gtest/gtest.h>

#include "integrity/verify_files.h"

namespace starfell {
namespace {

// Repairs are held to the archive entries' rule: whatever reaches outside the
// folder, or a file in it by another spelling.
TEST(UnsafeRelativePath, RefusesWhatAnArchiveEntryMayNotBe) {
    for (const char* unsafe : {"", "../x", "/x", "\\x", "\\\\server\\x", "C:\\x", "c:x", "a\\..\\..\\x",
                               "a/../x", "a/.. ./x", "a/.../x", "a/.. /x", "..", "./ok.dat", "1:x", "x.dat:stream",
                               "CONOUT$", "data/COM\xC2\xB2.dat", "VERSIO~1.DAT", "name.", "a\tb"})
        EXPECT_TRUE(isUnsafeRelativePath(unsafe)) << unsafe;
    // Names that only look alike stay allowed.
    for (const char* safe : {"a..b.dat", "..dat", "dir/.hidden", "data\\x.dat", "console.dat"})
        EXPECT_FALSE(isUnsafeRelativePath(safe)) << safe;
}

TEST(FailureMessage, NamesAtMostThreeAndCountsOnlyWhatItNames) {
    EXPECT_EQ(failureMessage({"a.dat"}), "Missing/corrupted files (1): a.dat. Please restart launcher.");
    EXPECT_EQ(failureMessage({"a", "b", "c"}), "Missing/corrupted files (3): a, b, c. Please restart launcher.");
    EXPECT_EQ(failureMessage({"a", "b", "c", "d"}),
              "Missing/corrupted files (4): a, b, c... and 1 more. Please restart launcher.");
    // A list cut short: its unread entries are said to be missing from the list, not counted as files.
    EXPECT_EQ(failureMessage({}, true), "File list incomplete. Please restart launcher.");
    EXPECT_EQ(failureMessage({"a", "b", "c", "d"}, true),
              "Missing/corrupted files (4): a, b, c... and 1 more. File list incomplete. Please restart launcher.");
}

}  // namespace
}  // namespace starfell
