// Windows: the game client started with CreateProcessW by its absolute path in
// the game folder, with the command line "Conquer.exe quietfern".
#include <windows.h>

#include <string>
#include <vector>

#include "base/file_utils.h"
#include "base/text_utils.h"
#include "screen/game_launch.h"
#include "update/game_guard.h"

namespace starfell {

bool startGameClient() {
    // Named by its full path: a command line alone would let Windows look in
    // the current folder and along PATH too, and the launcher runs elevated.
    const std::wstring name = utf8ToWide(kGameImageName);
    const std::wstring client = launcherFolder() + name;
    // CreateProcessW may write into the command line, so it lives in a writable buffer.
    const std::wstring line = name + L" " + utf8ToWide(kGameClientArgument);
    std::vector<wchar_t> commandLine(line.c_str(), line.c_str() + line.size() + 1);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    if (!CreateProcessW(client.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, L".", &startup, &process))
        return false;
    // The launcher neither waits for nor watches the game.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

void pauseBetweenClients() { Sleep(500); }

}  // namespace starfell
