// Launcher self-update: replacing an outdated build and removing the old one.
#pragma once
#include <string>
#include <vector>

namespace starfell {

// Handler of the server's first hello answer (whole packet, type included).
// Replaces the launcher and ends the process when the answer is "false".
void checkLauncherBuild(const std::string& packet);

// Deletes builds that an earlier self-update left behind. Start-up, main thread.
void removeOldLauncher();

}  // namespace starfell
