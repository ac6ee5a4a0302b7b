// Windows: UTF-8 <-> UTF-16 through the platform's code-page conversion.
#include <windows.h>

#include <stdexcept>

#include "base/text_utils.h"

namespace starfell {

std::wstring utf8ToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (units < 1) throw std::runtime_error("MultiByteToWideChar() failed: " + std::to_string(units));
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
    return wide;
}

std::string wideToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (bytes < 1) throw std::runtime_error("WideCharToMultiByte() failed: " + std::to_string(bytes));
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], bytes, nullptr, nullptr);
    return narrow;
}

}  // namespace starfell
