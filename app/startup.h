// Start-up of the launcher: identity digest, server greeting, window, message pump.
#pragma once

namespace starfell {

// Returns only when the server cannot be reached (0); otherwise the process
// ends through one of its fixed endings.
int runLauncher();

}  // namespace starfell
