// Text helpers: UTF-8 <-> wide conversion and splitting at a delimiter.
#pragma once
#include <string>
#include <vector>

namespace starfell {

// Malformed input is not an error: it is replaced the way the platform does.
// Throws std::runtime_error only when the platform reports a failure.
std::wstring utf8ToWide(const std::string& text);
std::string wideToUtf8(const std::wstring& text);

// Splits at every occurrence of `delimiter`, keeping empty pieces; the result
// always holds at least one piece.
std::vector<std::string> splitText(const std::string& text, const std::string& delimiter);
std::vector<std::wstring> splitText(const std::wstring& text, const std::wstring& delimiter);

}  // namespace starfell
