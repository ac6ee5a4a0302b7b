// Shared text helpers.
#include "base/text_utils.h"

namespace starfell {

namespace {
template <typename String>
std::vector<String> splitAny(const String& text, const String& delimiter) {
    std::vector<String> pieces;
    if (delimiter.empty()) {  // nothing to split at
        pieces.push_back(text);
        return pieces;
    }
    typename String::size_type start = 0;
    for (auto match = text.find(delimiter, start); match != String::npos; match = text.find(delimiter, start)) {
        pieces.push_back(text.substr(start, match - start));
        start = match + delimiter.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}
}  // namespace

std::vector<std::string> splitText(const std::string& text, const std::string& delimiter) {
    return splitAny(text, delimiter);
}

std::vector<std::wstring> splitText(const std::wstring& text, const std::wstring& delimiter) {
    return splitAny(text, delimiter);
}

}  // namespace starfell
