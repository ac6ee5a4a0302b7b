// Linux: starting another program (the game client, a new launcher build, a
// browser through xdg-open) as a clean child of the launcher.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace starfell {

struct SpawnRequest {
    std::string program;            // a path, or a name looked up in PATH with `searchPath`
    std::vector<std::string> argv;  // argv[0] included
    bool searchPath = false;
    bool newSession = false;        // detached from the launcher's session and terminal
};

// Starts the program without a shell. The child inherits no descriptor above
// stderr (the server connection above all), no blocked signals and not the
// launcher's ignored SIGPIPE. Returns 0, or the error number of the failure.
int spawnProgram(const SpawnRequest& request, pid_t& child);

}  // namespace starfell
