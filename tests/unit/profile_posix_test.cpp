// Our own INI engine: lines it does not change stay byte for byte, and a file
// it cannot handle safely is refused rather than damaged.
#include <gtest/gtest.h>

#include "screen/profile.h"
#include "test_support.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;

TEST(IniText, SetKeepsEveryOtherLineExactly) {
    const std::string original =
        "; ScrWidth=640 in a comment\r\n"
        "[ScreenMode]\r\n"
        "  ScrWidth = 1024 ; old\r\n"
        "ScrHeight=768\n"  // a stray LF ending stays as it is
        "\r\n"
        "[Other]\r\n"
        "ScrWidth=5";  // no line ending at the end
    EXPECT_EQ(ini::setValue(original, "screenmode", "SCRWIDTH", "1920"),
              "; ScrWidth=640 in a comment\r\n"
              "[ScreenMode]\r\n"
              "  ScrWidth=1920\r\n"
              "ScrHeight=768\n"
              "\r\n"
              "[Other]\r\n"
              "ScrWidth=5");
    // A new key goes after the section's last line, before the blank one.
    EXPECT_EQ(ini::setValue(original, "ScreenMode", "FullScrType", "1"),
              "; ScrWidth=640 in a comment\r\n"
              "[ScreenMode]\r\n"
              "  ScrWidth = 1024 ; old\r\n"
              "ScrHeight=768\n"
              "FullScrType=1\r\n"
              "\r\n"
              "[Other]\r\n"
              "ScrWidth=5");
    // A key into the last section, which lacks a final line ending.
    EXPECT_EQ(ini::setValue(original, "Other", "New", "x"), original + "\r\nNew=x\r\n");
    // A missing section is appended at the end in the file's own line ending.
    EXPECT_EQ(ini::setValue("[A]\nk=v\n", "B", "k", "w"), "[A]\nk=v\n[B]\nk=w\n");
    EXPECT_EQ(ini::setValue("", "Screen", "Width", "1"), "[Screen]\r\nWidth=1\r\n");
}

TEST(IniText, OnlyTheFirstSectionOfANameCounts) {
    const std::string text = "[S]\nA=1\n[s]\nA=2\nB=3\n";
    EXPECT_EQ(ini::findValue(text, "S", "A").value_or("?"), "1");
    EXPECT_FALSE(ini::findValue(text, "S", "B"));
    EXPECT_EQ(ini::setValue(text, "s", "A", "9"), "[S]\nA=9\n[s]\nA=2\nB=3\n");
}

TEST(IniText, EncodingsRoundTrip) {
    const std::string samples[] = {
        "plain \xC3\xA9\r\n",
        "\xEF\xBB\xBF[S]\r\nk=v\r\n",
        std::string("\xFF\xFE[\0S\0]\0=\xD8\x3D\xDE\x00", 14),  // with a surrogate pair
        std::string("\xFE\xFF\0[\0S\0]", 8),
    };
    for (const auto& bytes : samples) EXPECT_EQ(ini::encodeText(ini::decodeText(bytes)), bytes);
    EXPECT_EQ(ini::decodeText("\xEF\xBB\xBF[S]\nk=v").text, "[S]\nk=v");
    // A lone surrogate or odd byte cannot come back unchanged.
    const std::string broken("\xFF\xFE\x00\xD8x", 5);
    EXPECT_NE(ini::encodeText(ini::decodeText(broken)), broken);
}

TEST(ProfileFiles, RefusesWhatWouldDamageAFile) {
    test::ScratchFolder folder;
    {
        test::CapturedDiagnostics diagnostics;
        const std::wstring path = folder.wide() + L"a.ini";
        const std::string broken("\xFF\xFE[\0S\0]\0\x00\xD8", 10);
        test::writeFile(test::pathOf(path), broken);
        EXPECT_FALSE(writeProfileString(L"S", L"k", L"v", path));
        EXPECT_EQ(test::readFile(test::pathOf(path)), broken);

        const std::wstring other = folder.wide() + L"b.ini";
        EXPECT_FALSE(writeProfileString(L"S", L"k", L"1\r\n[Evil]", other));
        EXPECT_FALSE(writeProfileString(L"S]", L"k", L"v", other));
        EXPECT_FALSE(writeProfileString(L"S", L"k=x", L"v", other));
        EXPECT_FALSE(fsys::exists(test::pathOf(other)));
        EXPECT_NE(diagnostics.text().find("Cannot rewrite INI file unchanged: "), std::string::npos);
    }

    // Read-only files are left alone, even for a process that could write them.
    const fsys::path readOnly = folder.path() / "ro.ini";
    test::writeFile(readOnly, "[S]\nk=v\n");
    fsys::permissions(readOnly, fsys::perms::owner_write | fsys::perms::group_write | fsys::perms::others_write,
                      fsys::perm_options::remove);
    EXPECT_FALSE(writeProfileString(L"S", L"k", L"w", test::wideOf(readOnly)));
    EXPECT_EQ(test::readFile(readOnly), "[S]\nk=v\n");
}

TEST(ProfileFiles, RewriteKeepsPermissionsAndLeavesNoTemporaries) {
    test::ScratchFolder folder;
    const fsys::path path = folder.path() / "perm.ini";
    test::writeFile(path, "[S]\nk=v\n");
    fsys::permissions(path, fsys::perms::owner_read | fsys::perms::owner_write | fsys::perms::group_read);
    ASSERT_TRUE(writeProfileString(L"S", L"k", L"w", test::wideOf(path)));
    EXPECT_EQ(test::readFile(path), "[S]\nk=w\n");
    EXPECT_EQ(fsys::status(path).permissions(),
              fsys::perms::owner_read | fsys::perms::owner_write | fsys::perms::group_read);
    EXPECT_EQ(std::distance(fsys::directory_iterator(folder.path()), fsys::directory_iterator()), 1);
}

}  // namespace
}  // namespace starfell
