// POSIX: wide text is UTF-32. Malformed UTF-8 and lone surrogates become
// U+FFFD, as the Windows conversion does, so conversion never fails.
#include "base/text_utils.h"

namespace starfell {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }
}  // namespace

std::wstring utf8ToWide(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        unsigned char lead = bytes[i];
        char32_t code = 0;
        size_t extra = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            wide.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F, extra = 1, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F, extra = 2, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07, extra = 3, minimum = 0x10000;
        } else {
            wide.push_back(static_cast<wchar_t>(kReplacement));
            ++i;
            continue;
        }
        size_t taken = 1;
        while (taken <= extra && i + taken < size && isContinuation(bytes[i + taken])) {
            code = (code << 6) | (bytes[i + taken] & 0x3F);
            ++taken;
        }
        if (taken != extra + 1 || code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            // Skip the lead and the continuation bytes that belonged to it.
            wide.push_back(static_cast<wchar_t>(kReplacement));
            i += taken;
            continue;
        }
        wide.push_back(static_cast<wchar_t>(code));
        i += taken;
    }
    return wide;
}

std::string wideToUtf8(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t unit : text) {
        auto code = static_cast<char32_t>(unit);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = kReplacement;
        if (code < 0x80) {
            narrow.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            narrow.push_back(static_cast<char>(0xC0 | (code >> 6)));
            narrow.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            narrow.push_back(static_cast<char>(0xE0 | (code >> 12)));
            narrow.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            narrow.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            narrow.push_back(static_cast<char>(0xF0 | (code >> 18)));
            narrow.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            narrow.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            narrow.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return narrow;
}

}  // namespace starfell
