// The player's log: what reaches it, its size bound, and a log that cannot be written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/diagnostics.h"
#include "base/launcher_log.h"
#include "core/launcher_state.h"
#include "test_support.h"

namespace starfell {
namespace {

// Sends the log to a scratch folder for one test, and stops it afterwards.
class LauncherLogTest : public ::testing::Test {
protected:
    void SetUp() override { startLauncherLog(folder.wide() + kLauncherLogName); }
    void TearDown() override { startLauncherLog(L""); }
    std::filesystem::path logPath() const { return folder.path() / "StarfellLauncher.log"; }
    std::filesystem::path olderPath() const { return folder.path() / "StarfellLauncher.old.log"; }

    test::ScratchFolder folder;
    test::CapturedDiagnostics quiet;
};

TEST_F(LauncherLogTest, KeepsDiagnosticsAndEachChangeOfTheStatusLineWithATime) {
    LauncherState state;
    writeDiagnostic("Failed to delete file: a.txt");
    writeDiagnostic(std::wstring(L"Failed to open: \u00e9t\u00e9.dat"));
    state.setStatusText("Downloading version: 1001/1002");
    state.setStatusText("Downloading version: 1001/1002");  // no change, no line
    state.noteLastingFailure("Update incomplete. Please try again later.");
    state.settleStatusText("Ready.");  // the lasting failure stays: no change
    const std::string log = test::readFile(logPath());
    const std::string expected[] = {"  Failed to delete file: a.txt\n", "  Failed to open: \xc3\xa9t\xc3\xa9.dat\n",
                                    "  Status: Downloading version: 1001/1002\n",
                                    "  Status: Update incomplete. Please try again later.\n"};
    std::size_t at = 0;
    for (const std::string& line : expected) {
        const std::size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << "in\n" << log;
        // Each line opens with its local time: "YYYY-MM-DD HH:MM:SS.mmm".
        const std::size_t lineStart = log.rfind('\n', found) == std::string::npos ? 0 : log.rfind('\n', found) + 1;
        EXPECT_EQ(found - lineStart, 23u) << log.substr(lineStart, found - lineStart);
        at = found + line.size();
    }
    EXPECT_EQ(at, log.size()) << log;
}

TEST_F(LauncherLogTest, StaysBelowItsLimitWithOneOlderCopy) {
    const std::string line(1000, 'x');
    for (int i = 0; i < 2500; ++i) appendToLauncherLog(line + " " + std::to_string(i));
    ASSERT_TRUE(std::filesystem::exists(olderPath()));
    EXPECT_LT(std::filesystem::file_size(logPath()), kLauncherLogLimit);
    EXPECT_LT(std::filesystem::file_size(olderPath()), kLauncherLogLimit);
    // The newest line ends the log; the line before the log's first one ends the older copy.
    const std::string current = test::readFile(logPath()), older = test::readFile(olderPath());
    EXPECT_EQ(current.substr(current.size() - 6), " 2499\n");
    const std::size_t firstNumber = current.find(line) + line.size() + 1;
    const int first = std::stoi(current.substr(firstNumber, current.find('\n') - firstNumber));
    EXPECT_EQ(older.substr(older.rfind(' ')), " " + std::to_string(first - 1) + "\n");
    // Only the two files: no third copy piles up.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) ++files;
    EXPECT_EQ(files, 2);
}

TEST_F(LauncherLogTest, ALogThatCannotBeWrittenIsSkipped) {
    // The log's place is taken by a folder: every write fails, and the
    // launcher goes on with its diagnostics and status changes all the same.
    std::filesystem::create_directory(logPath());
    LauncherState state;
    writeDiagnostic("still reported");
    state.setStatusText("Ready.");
    EXPECT_EQ(state.statusText(), "Ready.");
    EXPECT_NE(quiet.text().find("still reported"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(logPath()));
}

}  // namespace
}  // namespace starfell
