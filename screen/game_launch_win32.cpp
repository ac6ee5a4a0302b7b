// Windows: the game client started with CreateProcessW by its absolute path in
// the game folder, with the command line "Conquer.exe quietfern".
#include <windows.h>

#include <string>

#include "base/file_utils.h"
#include "screen/game_launch.h"

namespace starfell {

bool startGameClient() {
    // Named by its full path: a command line alone would let Windows look in
    // the current folder and along PATH too, and the launcher runs elevated.
    const std::wstring client = launcherFolder() + L"Conquer.exe";
    // CreateProcessW may write into the command line, so it lives in a writable buffer.
    wchar_t commandLine[] = L"Conquer.exe quietfern";
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    if (!CreateProcessW(client.c_str(), commandLine, nullptr, nullptr, FALSE, 0, nullptr, L".", &startup, &process))
        return false;
    // The launcher neither waits for nor watches the game.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

void pauseBetweenClients() { Sleep(500); }

}  // namespace starfell
