// Linux game launch: where Conquer.exe is looked for, and how a native or a
// Windows client is started.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "screen/game_launch_posix.h"
#include "test_support.h"

namespace starfell {
namespace {

namespace fs = std::filesystem;

TEST(FindGameClient, OnlyTheGameFoldersOwnClient) {
    test::ScratchFolder scratch;
    const fs::path game = scratch.path() / "game", elsewhere = scratch.path() / "a";
    fs::create_directories(game);
    fs::create_directories(elsewhere);
    const fs::path previous = fs::current_path();
    const char* previousPath = std::getenv("PATH");
    const std::string savedPath = previousPath ? previousPath : "";
    // A client in the current folder or on PATH is never taken.
    test::writeFile(elsewhere / "Conquer.exe", "x");
    fs::current_path(elsewhere);
    setenv("PATH", (elsewhere.string() + ":").c_str(), 1);
    const auto none = findGameClient(game.string() + "/");
    fs::create_directories(game / "Conquer.exe");  // a folder of that name is no client
    const auto folder = findGameClient(game.string() + "/");
    fs::remove(game / "Conquer.exe");
    test::writeFile(game / "Conquer.exe", "x");
    const auto found = findGameClient(game.string() + "/");
    fs::current_path(previous);
    setenv("PATH", savedPath.c_str(), 1);
    EXPECT_FALSE(none);
    EXPECT_FALSE(folder);
    EXPECT_EQ(found, (game / "Conquer.exe").string());
}

TEST(PlanClientSpawn, WindowsClientRunsThroughWineNativeOneRunsItself) {
    test::ScratchFolder scratch;
    const std::string windows = (scratch.path() / "win.exe").string();
    const std::string native = (scratch.path() / "elf.exe").string();
    const std::string tiny = (scratch.path() / "tiny.exe").string();
    test::writeFile(windows, std::string("MZ\x90\0\x03", 5));
    test::writeFile(native, "\x7f" "ELF\x02\x01");
    test::writeFile(tiny, "M");  // too short to be a Windows program

    const SpawnRequest viaWine = planClientSpawn(windows);
    EXPECT_EQ(viaWine.program, "wine");
    EXPECT_TRUE(viaWine.searchPath);
    EXPECT_EQ(viaWine.argv, (std::vector<std::string>{"wine", windows, "quietfern"}));

    for (const std::string& file : {native, tiny}) {
        const SpawnRequest direct = planClientSpawn(file);
        EXPECT_EQ(direct.program, file);
        EXPECT_FALSE(direct.searchPath);
        EXPECT_EQ(direct.argv, (std::vector<std::string>{"Conquer.exe", "quietfern"}));
    }
}

}  // namespace
}  // namespace starfell
