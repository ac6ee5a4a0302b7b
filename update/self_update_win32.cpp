// Windows: the self-update's platform calls (file search, the swap of builds,
// shell start).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <iostream>

#include "update/self_update.h"
#include "update/self_update_platform.h"

namespace starfell {

namespace self_update_platform {

namespace {

constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// The volume and file index that name one file whatever its path.
bool fileIdentity(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
    return file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
}

}  // namespace

const char kExecutableSuffix[] = ".exe";

bool isPlausibleExecutable(const std::wstring& path) {
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return false;
    char signature[2] = {};
    const bool plausible = std::fread(signature, 1, 2, file) == 2 && signature[0] == 'M' && signature[1] == 'Z';
    std::fclose(file);
    return plausible;
}

bool makeExecutable(const std::wstring&) { return true; }

bool flushToDisk(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushFileBuffers(file) != 0;
    CloseHandle(file);
    return flushed;
}

std::uint32_t swapInBuild(const std::wstring& incoming, const std::wstring& current, const std::wstring& old) {
    // A running program's file cannot be replaced, only renamed: the running
    // build moves aside and the new one takes its name right after, the only
    // moment at which `current` names no build.
    DeleteFileW(old.c_str());
    if (!MoveFileExW(current.c_str(), old.c_str(), kMoveFlags)) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) return error;
    }
    if (!MoveFileExW(incoming.c_str(), current.c_str(), kMoveFlags)) {
        const DWORD error = GetLastError();
        MoveFileExW(old.c_str(), current.c_str(), kMoveFlags);
        return error;
    }
    return 0;
}

bool restoreBuild(const std::wstring& old, const std::wstring& current) {
    return MoveFileExW(old.c_str(), current.c_str(), kMoveFlags) != 0;
}

bool isRunningProgram(const std::wstring& path) {
    wchar_t own[MAX_PATH * 2] = {};
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2) return false;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE candidate = CreateFileW(path.c_str(), 0, share, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE running = CreateFileW(own, 0, share, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = fileIdentity(candidate, a) && fileIdentity(running, b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                      a.nFileIndexLow == b.nFileIndexLow;
    if (candidate != INVALID_HANDLE_VALUE) CloseHandle(candidate);
    if (running != INVALID_HANDLE_VALUE) CloseHandle(running);
    return same;
}

bool startProgram(const std::wstring& path) {
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

void writeOutputLine(const std::wstring& line) { std::wcout << line << std::endl; }

}  // namespace self_update_platform

std::vector<std::wstring> listExecutables(const std::wstring& folder) {
    std::vector<std::wstring> paths;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"/*.exe").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return paths;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) paths.push_back(folder + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return paths;
}

}  // namespace starfell
