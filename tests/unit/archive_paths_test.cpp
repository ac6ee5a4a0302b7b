// Entry names that could land outside the game folder are refused; ordinary
// nested names pass with their components intact.
#include <gtest/gtest.h>

#include "update/archive_paths.h"

namespace starfell {
namespace {

TEST(EntryName, NestedNamesSplitAtBothSeparators) {
    std::vector<std::string> components;
    ASSERT_TRUE(splitEntryName("data/new\\file.bin", false, components));
    EXPECT_EQ(components, (std::vector<std::string>{"data", "new", "file.bin"}));
    ASSERT_TRUE(splitEntryName("empty/dir/", true, components));
    EXPECT_EQ(components, (std::vector<std::string>{"empty", "dir"}));
    ASSERT_TRUE(splitEntryName("..data/.hidden/a..b", false, components));
    ASSERT_TRUE(splitEntryName("console.dll", false, components));  // only whole device names
    ASSERT_TRUE(splitEntryName("COM0.txt", false, components));
    // Tildes that no short name has: a long stem, a long extension, no digit.
    for (const char* name : {"version~1.dat.bak", "longerstem~1.dat", "a~1.json", "backup~.dat", "COM\xC2\xB9x"})
        EXPECT_TRUE(splitEntryName(name, false, components)) << name;
    ASSERT_TRUE(splitEntryName("\xC3\xA9t\xC3\xA9/\xE6\xB8\xB8.dat", false, components));
}

TEST(EntryName, EscapesAndSpecialNamesAreRefused) {
    std::vector<std::string> components;
    const char* unsafe[] = {
        "", "../evil.txt", "/tmp/evil", "\\evil", "C:\\evil", "C:evil", "a/../../evil", "a/./b", "a//b",
        "file.txt:stream", "CON", "con.txt", "COM1.dll", "lpt9", "aux .dat", "Nul", "name.", "name ",
        "dir./file", "a\tb", "a\x7f", "a\nb", "file/",
        // Console and superscript port devices, and short names that may spell a guarded file.
        "CONIN$", "conout$.txt", "COM\xC2\xB9", "lpt\xC2\xB3.log", "VERSIO~1.DAT", "data/LAUNC~12.EXE", "ABC~1",
    };
    for (const char* name : unsafe) {
        EXPECT_FALSE(splitEntryName(name, false, components)) << '"' << name << '"';
        EXPECT_TRUE(components.empty());
    }
    EXPECT_FALSE(splitEntryName("a/../", true, components));
    EXPECT_FALSE(splitEntryName("/", true, components));
    EXPECT_FALSE(splitEntryName("a//", true, components));
}

}  // namespace
}  // namespace starfell
