// Progress figures, version file forms, patch numbers and process image names.
#include <gtest/gtest.h>

#include <utility>

#include <filesystem>

#include "base/file_platform.h"
#include "base/text_utils.h"
#include "test_support.h"
#include "update/download.h"
#include "update/game_guard.h"
#include "update/patches.h"
#include "update/version_store.h"

namespace starfell {
namespace {

using test::ScratchFolder;

TEST(ProgressPercent, ReportsWithoutNewsKeepThePreviousFigure) {
    EXPECT_EQ(progressPercent(0, 1000, 37), 37);   // no bytes yet
    EXPECT_EQ(progressPercent(0, 0, 100), 100);
    EXPECT_EQ(progressPercent(500, 0, 12), 12);    // size never announced
}

TEST(ProgressPercent, TruncatesTowardZeroAndStaysWithinAHundred) {
    EXPECT_EQ(progressPercent(512, 1000, 0), 51);
    EXPECT_EQ(progressPercent(1000, 1000, 0), 100);
    EXPECT_EQ(progressPercent(1, 1000, 0), 0);
    EXPECT_EQ(progressPercent(2000, 1000, 0), 100);  // server sent more than it announced
    EXPECT_EQ(progressPercent(3000000000ull, 4000000000ull, 0), 75);
}

class VersionFile : public ::testing::Test {
protected:
    std::filesystem::path file() const { return folder.path() / "version.dat"; }
    ScratchFolder folder;
};

TEST_F(VersionFile, MissingFileIsCreatedWithExactlyTheFirstVersion) {
    EXPECT_EQ(readInstalledVersionIn(folder.narrow()), "1000");
    EXPECT_EQ(test::readFile(file()), "1000");
}

TEST_F(VersionFile, FirstLineIsReturnedWithoutItsLineEnd) {
    test::writeFile(file(), "1005\r\n1006\nrest");
    EXPECT_EQ(readInstalledVersionIn(folder.narrow()), "1005");
    test::writeFile(file(), "");
    EXPECT_EQ(readInstalledVersionIn(folder.narrow()), "");
    EXPECT_EQ(test::readFile(file()), "");  // an existing file is never rewritten
}

TEST_F(VersionFile, BlanksAndWordsStayInTheLineAndNumbersAreReadLeniently) {
    test::writeFile(file(), "  1007 more words\n");
    const std::string line = readInstalledVersionIn(folder.narrow());
    EXPECT_EQ(line, "  1007 more words");
    std::int32_t number = 0;
    ASSERT_TRUE(parseVersionNumber(line, number));
    EXPECT_EQ(number, 1007);

    test::writeFile(file(), "latest");
    EXPECT_EQ(readInstalledVersionIn(folder.narrow()), "latest");
    EXPECT_FALSE(parseVersionNumber("latest", number));
    EXPECT_FALSE(parseVersionNumber("", number));
    EXPECT_FALSE(parseVersionNumber("99999999999", number));  // does not fit 32 bits
    ASSERT_TRUE(parseVersionNumber("-5", number));
    EXPECT_EQ(number, -5);
}

TEST_F(VersionFile, ReadOnlyFileIsStillRead) {
    test::writeFile(file(), "1010");
    ASSERT_TRUE(fs::setAttributes(file().string(), fs::kReadOnly));
    EXPECT_EQ(readInstalledVersionIn(folder.narrow()), "1010");
}

TEST(PatchNumber, ReadAsAStringToIntConversionReadsIt) {
    const std::pair<const wchar_t*, std::int32_t> read[] = {
        {L"1001", 1001},       {L" 1001", 1001}, {L"1001\r", 1001},           {L"+1001", 1001}, {L"-3", -3},
        {L"1001/../../x", 1001}, {L"10a", 10},  {L"2147483647", 2147483647}, {L"\t\v-2147483648x", -2147483647 - 1}};
    for (const auto& [entry, expected] : read) {
        std::int32_t number = 0;
        EXPECT_TRUE(readPatchNumber(entry, number)) << wideToUtf8(entry);
        EXPECT_EQ(number, expected) << wideToUtf8(entry);
    }
    std::int32_t number = 0;
    for (const wchar_t* entry : {L"", L"  ", L"+", L"- 1", L"abc", L"2147483648", L"-2147483649", L"99999999999999999999"})
        EXPECT_FALSE(readPatchNumber(entry, number)) << wideToUtf8(entry);
}

TEST(ImageName, WholeFileNameComparedWithoutCase) {
    EXPECT_TRUE(sameImageName("CONQUER.EXE", kGameImageName));
    EXPECT_TRUE(sameImageName(imageNameOfPath("C:\\Games\\Conquer.exe"), kGameImageName));
    EXPECT_TRUE(sameImageName(imageNameOfPath("/opt/game/conquer.exe"), kGameImageName));
    EXPECT_FALSE(sameImageName("Conquer.exe.bak", kGameImageName));
    EXPECT_FALSE(sameImageName("MyConquer.exe", kGameImageName));
    EXPECT_FALSE(sameImageName(imageNameOfPath("Conquer.exe/"), kGameImageName));
}

}  // namespace
}  // namespace starfell
