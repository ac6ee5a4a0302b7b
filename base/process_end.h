// Ending the launcher process from any thread.
#pragma once

namespace starfell {

// Flushes the standard streams and ends the process with `code` at once. No
// static destructor or exit handler runs: the UI thread, the file worker and
// download workers may still be using the objects they would tear down.
[[noreturn]] void endProcess(int code);

}  // namespace starfell
