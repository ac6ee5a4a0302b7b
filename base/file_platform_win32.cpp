// Windows file-system calls behind file_platform.h.
#include <windows.h>
#include <psapi.h>

#include <cstring>

#include "base/file_platform.h"

namespace starfell::fs {

const char kSeparator = '\\';
const wchar_t kWideSeparator = L'\\';

std::uint32_t getAttributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }
std::uint32_t getAttributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

bool setAttributes(const std::wstring& path, std::uint32_t attributes) {
    return SetFileAttributesW(path.c_str(), attributes) != 0;
}
bool setAttributes(const std::string& path, std::uint32_t attributes) {
    return SetFileAttributesA(path.c_str(), attributes) != 0;
}

std::uint32_t removeFile(const std::wstring& path) { return DeleteFileW(path.c_str()) ? kSuccess : GetLastError(); }
std::uint32_t removeFile(const std::string& path) { return DeleteFileA(path.c_str()) ? kSuccess : GetLastError(); }

std::uint32_t makeDirectory(const std::wstring& path) {
    return CreateDirectoryW(path.c_str(), nullptr) ? kSuccess : GetLastError();
}
std::uint32_t makeDirectory(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) ? kSuccess : GetLastError();
}

std::uint32_t moveFile(const std::wstring& from, const std::wstring& to) {
    return MoveFileW(from.c_str(), to.c_str()) ? kSuccess : GetLastError();
}

namespace {

constexpr DWORD kReplaceFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// Writes an opened file's data through to the disk and closes it.
std::uint32_t flushAndClose(HANDLE file) {
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    const std::uint32_t error = FlushFileBuffers(file) ? kSuccess : GetLastError();
    CloseHandle(file);
    return error;
}

}  // namespace

std::uint32_t replaceFile(const std::wstring& from, const std::wstring& to) {
    const std::uint32_t error = flushAndClose(
        CreateFileW(from.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (error != kSuccess) return error;
    return MoveFileExW(from.c_str(), to.c_str(), kReplaceFlags) ? kSuccess : GetLastError();
}
std::uint32_t replaceFile(const std::string& from, const std::string& to) {
    const std::uint32_t error = flushAndClose(
        CreateFileA(from.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (error != kSuccess) return error;
    return MoveFileExA(from.c_str(), to.c_str(), kReplaceFlags) ? kSuccess : GetLastError();
}

std::uint32_t replaceFlushedFile(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), kReplaceFlags) ? kSuccess : GetLastError();
}

// MOVEFILE_WRITE_THROUGH already commits each rename with its folder entry.
void flushFolder(const std::wstring&) {}

std::vector<std::wstring> listFiles(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

std::FILE* openFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
std::FILE* openFile(const std::wstring& path, const char* mode) {
    return _wfopen(path.c_str(), std::wstring(mode, mode + std::strlen(mode)).c_str());
}

std::wstring modulePath() {
    wchar_t buffer[520] = {};
    DWORD length = K32GetModuleFileNameExW(GetCurrentProcess(), GetModuleHandleW(nullptr), buffer, 520);
    return length == 0 ? std::wstring() : std::wstring(buffer, length);
}

std::string modulePathNarrow() {
    char buffer[260] = {};
    GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
    return std::string(buffer);
}

void sleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

}  // namespace starfell::fs
