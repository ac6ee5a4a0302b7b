// The stand-in game client on Windows: a GUI-subsystem program (no console)
// reporting GetCommandLineA, its current directory and its process id.
#include <windows.h>

#include "tools/conquer_stub.h"

namespace starfell::stub {

StartRecord currentStart() {
    StartRecord record;
    record.commandLine = GetCommandLineA();
    char folder[MAX_PATH + 1];
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    if (length > 0 && length < sizeof folder) record.workingFolder.assign(folder, length);
    record.processId = GetCurrentProcessId();
    return record;
}

void sleepSeconds(unsigned seconds) { Sleep(seconds * 1000u); }

}  // namespace starfell::stub

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return starfell::stub::runStub(); }
