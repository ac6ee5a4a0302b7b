// The stand-in game client on Linux: argv joined by spaces, getcwd, getpid.
#include <fcntl.h>
#include <unistd.h>

#include <climits>

#include "tools/conquer_stub.h"

namespace starfell::stub {

namespace {
int savedArgc = 0;
char** savedArgv = nullptr;
}  // namespace

StartRecord currentStart() {
    StartRecord record;
    for (int i = 0; i < savedArgc; ++i) {
        if (i > 0) record.commandLine += ' ';
        record.commandLine += savedArgv[i];
    }
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder)) record.workingFolder = folder;
    record.processId = static_cast<unsigned long>(getpid());
    return record;
}

void sleepSeconds(unsigned seconds) {
    while (seconds > 0) seconds = sleep(seconds);
}

void appendLine(const char* path, const std::string& line) {
    const int log = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (log < 0) return;
    [[maybe_unused]] const ssize_t written = write(log, line.data(), line.size());  // a missing line fails its test
    close(log);
}

}  // namespace starfell::stub

int main(int argc, char** argv) {
    starfell::stub::savedArgc = argc;
    starfell::stub::savedArgv = argv;
    return starfell::stub::runStub();
}
