// Windows: the system's private-profile functions.
#include <windows.h>

#include "screen/profile.h"

namespace starfell {

std::wstring readProfileString(const std::wstring& section, const std::wstring& key, const std::wstring& path) {
    wchar_t buffer[kProfileBufferChars] = {};
    const DWORD length = GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer,
                                                  static_cast<DWORD>(kProfileBufferChars), path.c_str());
    return std::wstring(buffer, length < kProfileBufferChars ? length : kProfileBufferChars - 1);
}

bool writeProfileString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                        const std::wstring& path) {
    return WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str()) != FALSE;
}

}  // namespace starfell
