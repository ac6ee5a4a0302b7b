// Linux: how the game client is found and started (natively, or through wine
// when it is a Windows program).
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace starfell {

struct ClientSpawn {
    std::string program;            // the file to run
    bool searchPath = false;        // look `program` up in PATH (wine)
    std::vector<std::string> argv;  // the arguments the program gets, argv[0] included
};

// Where Conquer.exe is: `launcherFolder` (ending with "/") first, then every
// folder of `pathVariable` in order (an empty entry is the current folder).
// Empty when no regular file of that name is found.
std::optional<std::string> findGameClient(const std::string& launcherFolder, const std::string& pathVariable);

// How to start the client file at `clientPath`: a file that starts with "MZ"
// runs as `wine <clientPath> quietfern`; anything else runs itself with the
// arguments "Conquer.exe quietfern".
ClientSpawn planClientSpawn(const std::string& clientPath);

}  // namespace starfell
