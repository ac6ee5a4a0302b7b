// POSIX: running game clients found by scanning /proc. A process's image name
// is the file name of its argv[0], split at `/` and `\`, so clients run
// through Wine (whose argv[0] is the Windows path) count as well.
#include <dirent.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "update/game_guard.h"

namespace starfell {

namespace {

// argv[0] of the process, or empty when it cannot be read (gone, kernel thread, zombie).
std::string firstArgument(const std::string& pid) {
    const std::string path = "/proc/" + pid + "/cmdline";
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) return std::string();
    std::string argument;
    for (int c; (c = std::fgetc(file)) != EOF && c != '\0' && argument.size() < 4096;)
        argument.push_back(static_cast<char>(c));
    std::fclose(file);
    return argument;
}

// Process ids whose image name matches, except this process.
std::vector<pid_t> matchingProcesses(const std::string& imageName) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    const pid_t self = getpid();
    while (dirent* entry = readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::strtol(name.c_str(), nullptr, 10));
        if (pid == self) continue;
        if (sameImageName(imageNameOfPath(firstArgument(name)), imageName)) found.push_back(pid);
    }
    closedir(proc);
    return found;
}

}  // namespace

bool isProcessRunning(const std::string& imageName) { return !matchingProcesses(imageName).empty(); }

// SIGKILL, like TerminateProcess: the client ends at once and cannot delay or
// refuse; the guard's pause and second look decide whether it is gone.
bool terminateProcesses(const std::string& imageName) {
    bool terminated = false;
    for (pid_t pid : matchingProcesses(imageName))
        if (kill(pid, SIGKILL) == 0) terminated = true;
    return terminated;
}

}  // namespace starfell
