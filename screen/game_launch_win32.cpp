// Windows: the game client started with CreateProcessA, which looks for
// Conquer.exe in the launcher's own folder first.
#include <windows.h>

#include "screen/game_launch.h"

namespace starfell {

bool startGameClient() {
    // CreateProcessA may write into the command line, so it lives in a writable buffer.
    char commandLine[] = "Conquer.exe quietfern";
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, ".", &startup, &process))
        return false;
    // The launcher neither waits for nor watches the game.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

void pauseBetweenClients() { Sleep(500); }

}  // namespace starfell
