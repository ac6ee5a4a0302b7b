// Linux: clean program starts through posix_spawn.
#include "base/spawn_posix.h"

#include <signal.h>
#include <spawn.h>

extern char** environ;

namespace starfell {

int spawnProgram(const SpawnRequest& request, pid_t& child) {
    std::vector<char*> argv;
    for (const std::string& argument : request.argv) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

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
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (request.newSession) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attributes, flags);

    child = 0;
    const int result =
        request.searchPath
            ? posix_spawnp(&child, request.program.c_str(), &actions, &attributes, argv.data(), environ)
            : posix_spawn(&child, request.program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

}  // namespace starfell
