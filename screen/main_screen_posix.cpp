// Linux: web pages opened with xdg-open, started without a shell and reaped
// by a detached thread so no zombie stays behind.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <thread>

#include "screen/main_screen.h"
#include "update/diagnostics.h"

extern char** environ;

namespace starfell {

void openUrl(const std::string& url) {
    // The URL is one argument of its own: nothing in it is interpreted.
    char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(url.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    pid_t child = 0;
    const int result = posix_spawnp(&child, "xdg-open", &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        writeDiagnostic("Cannot open: " + url + " Error: " + std::to_string(result));
        return;
    }
    std::thread([child] {
        int status = 0;
        waitpid(child, &status, 0);
    }).detach();
}

}  // namespace starfell
