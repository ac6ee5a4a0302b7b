// Windows: running game clients found in a Toolhelp process snapshot and
// ended with TerminateProcess.
#include <windows.h>
#include <tlhelp32.h>

#include "base/text_utils.h"
#include "update/game_guard.h"

namespace starfell {

namespace {

// Calls `visit(entry)` for every process until it returns false; false when
// no snapshot could be taken.
template <typename Visit>
bool walkProcesses(Visit visit) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);  // 556
    if (Process32FirstW(snapshot, &entry)) {
        do {
            if (!visit(entry)) break;
        } while (Process32NextW(snapshot, &entry));
    }
    CloseHandle(snapshot);
    return true;
}

bool hasImageName(const PROCESSENTRY32W& entry, const std::string& imageName) {
    return sameImageName(wideToUtf8(entry.szExeFile), imageName);
}

}  // namespace

bool isProcessRunning(const std::string& imageName) {
    bool found = false;
    walkProcesses([&](const PROCESSENTRY32W& entry) {
        found = hasImageName(entry, imageName);
        return !found;
    });
    return found;
}

bool terminateProcesses(const std::string& imageName) {
    bool terminated = false;
    walkProcesses([&](const PROCESSENTRY32W& entry) {
        if (hasImageName(entry, imageName)) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
            if (process) {
                if (TerminateProcess(process, 0)) terminated = true;
                CloseHandle(process);
            }
        }
        return true;
    });
    return terminated;
}

}  // namespace starfell
