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

// A handle with append access only: every write goes to the end of the file,
// as one operation of the file system.
void appendLine(const char* path, const std::string& line) {
    const HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(log);
}

}  // namespace starfell::stub

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return starfell::stub::runStub(); }
