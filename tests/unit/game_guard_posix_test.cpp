// The /proc scan finds processes by the file name of argv[0], also Windows
// paths as Wine shows them, and ends them. Test processes get unique names,
// so no real game client on the machine is ever touched.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "update/game_guard.h"

extern char** environ;

namespace starfell {
namespace {

// A `sleep` whose argv[0] is `shownAs`.
pid_t startNamed(const std::string& shownAs) {
    char seconds[] = "30";
    char* argv[] = {const_cast<char*>(shownAs.c_str()), seconds, nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "sleep", nullptr, nullptr, argv, environ) != 0) return -1;
    return pid;
}

// Whether the child has exec'd, so its argv[0] is the one it was given.
bool showsAs(pid_t pid, const std::string& shownAs) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    const std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return line.compare(0, shownAs.size() + 1, shownAs + '\0') == 0;
}

bool waitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 200; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(ProcessScan, FindsAndEndsEveryProcessWithTheImageName) {
    const std::string name = "GuardProbe" + std::to_string(getpid()) + ".exe";
    ASSERT_FALSE(isProcessRunning(name));
    EXPECT_FALSE(terminateProcesses(name));

    const std::string unixPath = "/opt/games/" + name;
    const std::string winePath = "C:\\Games\\Client\\GUARDPROBE" + std::to_string(getpid()) + ".EXE";
    const pid_t unixStyle = startNamed(unixPath);
    const pid_t wineStyle = startNamed(winePath);
    const pid_t lookalike = startNamed(unixPath + ".bak");
    ASSERT_GT(unixStyle, 0);
    ASSERT_GT(wineStyle, 0);
    ASSERT_GT(lookalike, 0);
    ASSERT_TRUE(waitUntil([&] { return showsAs(unixStyle, unixPath) && showsAs(wineStyle, winePath); }));
    EXPECT_TRUE(isProcessRunning(name));

    EXPECT_TRUE(terminateProcesses(name));
    int status = 0;
    ASSERT_EQ(waitpid(unixStyle, &status, 0), unixStyle);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ASSERT_EQ(waitpid(wineStyle, &status, 0), wineStyle);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_FALSE(isProcessRunning(name));

    // The look-alike was left alone.
    EXPECT_EQ(waitpid(lookalike, &status, WNOHANG), 0);
    kill(lookalike, SIGKILL);
    waitpid(lookalike, &status, 0);
}

}  // namespace
}  // namespace starfell
