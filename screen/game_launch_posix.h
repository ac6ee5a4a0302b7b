// Linux: how the game client is found and started (natively, or through wine
// when it is a Windows program).
#pragma once
#include <optional>
#include <string>

#include "base/spawn_posix.h"

namespace starfell {

// Where Conquer.exe is: `launcherFolder` (ending with "/") first, then every
// folder of `pathVariable` in order (an empty entry is the current folder).
// Empty when no regular file of that name is found.
std::optional<std::string> findGameClient(const std::string& launcherFolder, const std::string& pathVariable);

// How to start the client file at `clientPath`: a file that starts with "MZ"
// runs as `wine <clientPath> quietfern`; anything else runs itself with the
// arguments "Conquer.exe quietfern".
SpawnRequest planClientSpawn(const std::string& clientPath);

}  // namespace starfell
