// Windows file-system calls behind file_platform.h.
#include <windows.h>
#include <psapi.h>

#include "update/file_platform.h"

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
