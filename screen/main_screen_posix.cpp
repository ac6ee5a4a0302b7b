// Linux: web pages opened with xdg-open, started without a shell and reaped
// by a detached thread so no zombie stays behind.
#include <sys/wait.h>

#include <thread>

#include "base/diagnostics.h"
#include "base/spawn_posix.h"
#include "screen/main_screen.h"

namespace starfell {

void openUrl(const std::string& url) {
    // The URL is one argument of its own: nothing in it is interpreted.
    pid_t child = 0;
    const int result = spawnProgram({"xdg-open", {"xdg-open", url}, true, true}, child);
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
