// Linux: how the game client is found and started (natively, or through wine
// when it is a Windows program).
#pragma once
#include <optional>
#include <string>

#include "base/spawn_posix.h"

namespace starfell {

// Where Conquer.exe is: in `gameFolder` (ending with "/"), by that absolute
// path, and nowhere else: a client found through PATH or the current folder
// could be anybody's program. Empty when no regular file of that name is there.
std::optional<std::string> findGameClient(const std::string& gameFolder);

// How to start the client file at `clientPath`: a file that starts with "MZ"
// runs as `wine <clientPath> quietfern`; anything else runs itself with the
// arguments "Conquer.exe quietfern".
SpawnRequest planClientSpawn(const std::string& clientPath);

}  // namespace starfell
