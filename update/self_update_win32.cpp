// Windows: the self-update's platform calls (file search, shell start).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <iostream>

#include "update/self_update.h"
#include "update/self_update_platform.h"

namespace starfell {

namespace self_update_platform {

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
