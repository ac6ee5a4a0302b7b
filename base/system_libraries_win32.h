// The launcher runs elevated from the game folder, where a game may keep its
// own copies (wrappers) of system DLLs: such DLLs are only ever taken from the
// Windows system folder. Header-only, as the GUI backend's library uses it too.
#pragma once

#include <windows.h>

#include <string>

namespace starfell {

// SetDefaultDllDirectories and the LOAD_LIBRARY_SEARCH_* flags are missing
// before Windows 8 (and on Windows 7 without its 2011 loader update).
inline FARPROC setDefaultDllDirectoriesFunction() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
}

// Drops the application and current folders from the DLL search of every
// later load (the GUI backend's LoadLibrary calls among them). Called first
// thing in WinMain.
inline void restrictDllSearchToSystemFolder() {
    using SetDefault = BOOL(WINAPI*)(DWORD);
    auto setDefault = reinterpret_cast<SetDefault>(reinterpret_cast<void*>(setDefaultDllDirectoriesFunction()));
    // Older loader: at least take the current folder out of the search.
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

// True under Wine, whose ntdll exports its version.
inline bool runsUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Loads a DLL from the system folder only; nullptr when it is not there.
inline HMODULE loadSystemLibrary(const wchar_t* name) {
    if (setDefaultDllDirectoriesFunction()) return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(folder, length) + L'\\' + name;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// A function of a DLL in the system folder; nullptr when either is missing.
template <typename Function>
Function systemFunction(const wchar_t* library, const char* name) {
    HMODULE module = loadSystemLibrary(library);
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace starfell
