// Game launch: the counter's bounds, the start sequence's stop at the first
// failure, and a real start of the stand-in client that lies beside the tests.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/file_utils.h"
#include "base/text_utils.h"
#include "screen/game_launch.h"
#include "test_support.h"

namespace starfell {
namespace {

TEST(ClientCounter, StepsByOneAndStopsAtItsBounds) {
    EXPECT_EQ(clientCountAfterMinus(1), 1);
    EXPECT_EQ(clientCountAfterMinus(2), 1);
    EXPECT_EQ(clientCountAfterPlus(1), 2);
    EXPECT_EQ(clientCountAfterPlus(49), 50);
    EXPECT_EQ(clientCountAfterPlus(50), 50);
}

TEST(StartSequence, PausesAfterEveryStartAndStopsAtTheFirstFailure) {
    std::string calls;
    const auto pause = [&] { calls += 'p'; };

    EXPECT_EQ(startGameClients(3, [&] { calls += 's'; return true; }, pause), 3);
    EXPECT_EQ(calls, "spspsp");  // a pause after the last start too

    calls.clear();
    int attempt = 0;
    EXPECT_EQ(startGameClients(3, [&] { calls += 's'; return ++attempt != 2; }, pause), 1);
    EXPECT_EQ(calls, "sps");  // the third is never tried
}

void setVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

TEST(StartGameClient, StartsConquerExeBesideTheLauncherWithTheGameCommandLine) {
    // The stand-in client is built into the same folder as this test program,
    // which plays the launcher's part here.
    const std::filesystem::path client = test::pathOf(launcherFolder()) / "Conquer.exe";
    if (!std::filesystem::exists(client)) GTEST_SKIP() << "no stand-in client at " << client;

    test::ScratchFolder scratch;
    const std::filesystem::path log = scratch.path() / "client.log";
    setVariable("STARFELL_CLIENT_LOG", wideToUtf8(test::wideOf(log)));
    setVariable("STARFELL_CLIENT_LIFETIME", "0");
    ASSERT_TRUE(startGameClient());

    std::string line;
    for (int i = 0; i < 600 && line.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (std::filesystem::exists(log)) line = test::readFile(log);
    }
    setVariable("STARFELL_CLIENT_LOG", "");
    ASSERT_FALSE(line.empty()) << "the client never wrote its start";
    // "<command line>\t<working folder>\t<pid>": the command line as the game
    // expects it, the working folder inherited from the launcher.
    const std::string commandLine = line.substr(0, line.find('\t'));
    EXPECT_EQ(commandLine, "Conquer.exe quietfern") << line;
    const std::string folder = line.substr(line.find('\t') + 1, line.rfind('\t') - line.find('\t') - 1);
    EXPECT_TRUE(std::filesystem::equivalent(test::pathOf(folder), std::filesystem::current_path())) << line;
}

}  // namespace
}  // namespace starfell
