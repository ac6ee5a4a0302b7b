// INI reads and writes through the platform's profile functions. The same
// cases run against the Windows functions (under Wine) and our own engine.
#include <gtest/gtest.h>

#include "base/text_utils.h"
#include "screen/profile.h"
#include "test_support.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;

TEST(Profile, ReadsLikeTheWindowsFunctions) {
    test::ScratchFolder folder;
    const std::wstring path = folder.wide() + L"game.ini";
    test::writeFile(test::pathOf(path),
                    "Stray=before any section\r\n"
                    "[ScreenMode]\r\n"
                    "ScrWidth = 1024  \r\n"
                    "scrwidth=800\r\n"
                    "\tQuoted = \"  spaced  \"\r\n"
                    "Single='x'\r\n"
                    "Half=\"open\r\n"
                    "NoValue\r\n"
                    "Empty=\r\n"
                    "Long=0123456789012345678901234567890123456789\r\n"
                    "[Other]\r\n"
                    "Only=here\r\n");
    const struct {
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* value;
    } cases[] = {
        {L"ScreenMode", L"ScrWidth", L"1024"},  // blanks trimmed, first match wins
        {L"SCREENMODE", L"SCRWIDTH", L"1024"},  // case-insensitive
        {L"ScreenMode", L"Quoted", L"  spaced  "},
        {L"ScreenMode", L"Single", L"x"},
        {L"ScreenMode", L"Half", L"\"open"},
        {L"ScreenMode", L"NoValue", L""},
        {L"ScreenMode", L"Empty", L""},
        {L"ScreenMode", L"Long", L"0123456789012345678901234567890"},  // 31 characters
        {L"ScreenMode", L"Only", L""},
        {L"ScreenMode", L"Stray", L""},
        {L"Other", L"Only", L"here"},
        {L"Missing", L"ScrWidth", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readProfileString(c.section, c.key, path), c.value) << wideToUtf8(c.key);
    EXPECT_EQ(readProfileString(L"ScreenMode", L"ScrWidth", folder.wide() + L"absent.ini"), L"");
}

TEST(Profile, WritesCreateReplaceAndAppend) {
    test::ScratchFolder folder;
    const std::wstring path = folder.wide() + L"config.ini";

    // A missing file is created in an existing folder, but no folder is made.
    EXPECT_TRUE(writeProfileString(L"Screen", L"Width", L"1920", path));
    EXPECT_EQ(readProfileString(L"Screen", L"Width", path), L"1920");
    EXPECT_FALSE(writeProfileString(L"Screen", L"Width", L"1", folder.wide() + L"nope/config.ini"));
    EXPECT_FALSE(fsys::exists(folder.path() / "nope"));

    // Replacing a key in a differently-cased section keeps the neighbours.
    EXPECT_TRUE(writeProfileString(L"Screen", L"Height", L"1080", path));
    EXPECT_TRUE(writeProfileString(L"screen", L"WIDTH", L"1280", path));
    EXPECT_TRUE(writeProfileString(L"Character", L"HideEffect", L"1", path));
    EXPECT_EQ(readProfileString(L"Screen", L"Width", path), L"1280");
    EXPECT_EQ(readProfileString(L"Screen", L"Height", path), L"1080");
    EXPECT_EQ(readProfileString(L"Character", L"HideEffect", path), L"1");

    const std::string text = test::readFile(test::pathOf(path));
    EXPECT_EQ(text.find("Width"), text.rfind("Width")) << "one Width key only:\n" << text;
}

TEST(Profile, UnicodeFilesKeepTheirEncoding) {
    test::ScratchFolder folder;
    const std::wstring path = folder.wide() + L"Settings.ini";
    // UTF-16LE with a byte-order mark: "[Screen]\r\nHideEffect=0\r\n".
    std::string bytes = "\xFF\xFE";
    for (char c : std::string("[Screen]\r\nHideEffect=0\r\n")) bytes += std::string{c, '\0'};
    test::writeFile(test::pathOf(path), bytes);

    EXPECT_EQ(readProfileString(L"Screen", L"HideEffect", path), L"0");
    EXPECT_TRUE(writeProfileString(L"Screen", L"HideEffect", L"1", path));
    EXPECT_EQ(readProfileString(L"Screen", L"HideEffect", path), L"1");
    const std::string after = test::readFile(test::pathOf(path));
    ASSERT_GE(after.size(), 4u);
    EXPECT_EQ(after.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(after.find("HideEffect"), std::string::npos) << "rewritten as 8-bit text";
}

}  // namespace
}  // namespace starfell
