// Linux game launch: where Conquer.exe is looked for, and how a native or a
// Windows client is started.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "screen/game_launch_posix.h"
#include "test_support.h"

namespace starfell {
namespace {

namespace fs = std::filesystem;

TEST(FindGameClient, LauncherFolderFirstThenPathInOrder) {
    test::ScratchFolder scratch;
    const fs::path launcher = scratch.path() / "game", first = scratch.path() / "a", second = scratch.path() / "b";
    fs::create_directories(launcher);
    fs::create_directories(first);
    fs::create_directories(second);
    const std::string path = first.string() + ":" + second.string() + "/";

    EXPECT_FALSE(findGameClient(launcher.string() + "/", path));
    test::writeFile(second / "Conquer.exe", "x");
    EXPECT_EQ(findGameClient(launcher.string() + "/", path), (second / "Conquer.exe").string());
    // A folder of that name is no client; the next PATH entry's file is.
    fs::create_directories(first / "Conquer.exe");
    EXPECT_EQ(findGameClient(launcher.string() + "/", path), (second / "Conquer.exe").string());
    test::writeFile(launcher / "Conquer.exe", "x");
    EXPECT_EQ(findGameClient(launcher.string() + "/", path), (launcher / "Conquer.exe").string());
}

TEST(FindGameClient, EmptyPathEntryIsTheCurrentFolder) {
    test::ScratchFolder scratch;
    const fs::path previous = fs::current_path();
    fs::current_path(scratch.path());
    test::writeFile(scratch.path() / "Conquer.exe", "x");
    const auto found = findGameClient("/nonexistent-launcher-folder/", "/nonexistent-a::/nonexistent-b");
    fs::current_path(previous);
    EXPECT_EQ(found, std::optional<std::string>("./Conquer.exe"));
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
