// The stand-in game client on Linux: argv joined by spaces, getcwd, getpid.
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

}  // namespace starfell::stub

int main(int argc, char** argv) {
    starfell::stub::savedArgc = argc;
    starfell::stub::savedArgv = argv;
    return starfell::stub::runStub();
}
