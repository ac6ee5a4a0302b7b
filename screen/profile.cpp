// INI text engine: finds and sets keys the way the Windows profile functions
// do, while leaving every line it does not change exactly as it was.
#include "screen/profile.h"

#include <vector>

namespace starfell::ini {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

// One line of the text: where it starts, its content and its line ending.
struct Line {
    size_t start = 0;
    size_t contentLength = 0;  // without the line ending
    size_t endingLength = 0;   // 0 on a last line without one
};

std::vector<Line> splitLines(const std::string& text) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t feed = text.find('\n', start);
        Line line;
        line.start = start;
        if (feed == std::string::npos) {
            line.contentLength = text.size() - start;
        } else {
            const bool crlf = feed > start && text[feed - 1] == '\r';
            line.contentLength = feed - start - (crlf ? 1 : 0);
            line.endingLength = crlf ? 2 : 1;
        }
        lines.push_back(line);
        start = line.start + line.contentLength + line.endingLength;
    }
    return lines;
}

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string name;   // section name or key name
    bool hasValue = false;
    std::string value;  // trimmed
    size_t keyEnd = 0;  // offset in the content just past the key's text
};

ParsedLine parseLine(const std::string& content) {
    ParsedLine parsed;
    size_t begin = 0;
    while (begin < content.size() && isBlank(content[begin])) ++begin;
    if (begin == content.size()) return parsed;
    if (content[begin] == '[') {
        const size_t close = content.rfind(']');
        if (close != std::string::npos && close > begin) {
            parsed.kind = LineKind::Section;
            parsed.name = trimmed(content.substr(begin + 1, close - begin - 1));
            return parsed;
        }
    }
    parsed.kind = LineKind::Key;
    const size_t equals = content.find('=', begin);
    size_t keyEnd = equals == std::string::npos ? content.size() : equals;
    while (keyEnd > begin && isBlank(content[keyEnd - 1])) --keyEnd;
    parsed.name = content.substr(begin, keyEnd - begin);
    parsed.keyEnd = keyEnd;
    if (equals != std::string::npos) {
        parsed.hasValue = true;
        parsed.value = trimmed(content.substr(equals + 1));
    }
    return parsed;
}

// Where a section and a key sit in the text; npos when absent.
struct Location {
    size_t sectionLine = std::string::npos;
    size_t keyLine = std::string::npos;
    size_t lastFilledLine = std::string::npos;  // last non-blank line of the section
    ParsedLine key;
};

Location locate(const std::string& text, const std::vector<Line>& lines, const std::string& section,
                const std::string& key) {
    Location found;
    for (size_t i = 0; i < lines.size(); ++i) {
        const ParsedLine parsed = parseLine(text.substr(lines[i].start, lines[i].contentLength));
        if (found.sectionLine == std::string::npos) {
            if (parsed.kind == LineKind::Section && sameName(parsed.name, section)) {
                found.sectionLine = i;
                found.lastFilledLine = i;
            }
            continue;
        }
        // Only the first section of that name counts, as with the Windows functions.
        if (parsed.kind == LineKind::Section) break;
        if (parsed.kind != LineKind::Other) found.lastFilledLine = i;
        if (parsed.kind == LineKind::Key && found.keyLine == std::string::npos && sameName(parsed.name, key)) {
            found.keyLine = i;
            found.key = parsed;
        }
    }
    return found;
}

std::string lineEndingOf(const std::string& text, const std::vector<Line>& lines) {
    for (const Line& line : lines) {
        if (line.endingLength == 2) return "\r\n";
        if (line.endingLength == 1) return "\n";
    }
    return "\r\n";  // the game's files are Windows text files
}

std::string unquoted(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

std::optional<std::string> findValue(const std::string& text, const std::string& section, const std::string& key) {
    const auto lines = splitLines(text);
    const Location found = locate(text, lines, section, key);
    if (found.keyLine == std::string::npos || !found.key.hasValue) return std::nullopt;
    return unquoted(found.key.value);
}

std::string setValue(const std::string& text, const std::string& section, const std::string& key,
                     const std::string& value) {
    const auto lines = splitLines(text);
    const Location found = locate(text, lines, section, key);
    const std::string ending = lineEndingOf(text, lines);

    if (found.keyLine != std::string::npos) {
        // Keep the line's own spelling and indentation of the key.
        const Line& line = lines[found.keyLine];
        std::string result = text.substr(0, line.start + found.key.keyEnd);
        result += "=" + value;
        result += text.substr(line.start + line.contentLength);
        return result;
    }
    if (found.sectionLine != std::string::npos) {
        const Line& last = lines[found.lastFilledLine];
        const size_t insertAt = last.start + last.contentLength + last.endingLength;
        std::string result = text.substr(0, insertAt);
        if (last.endingLength == 0) result += ending;
        result += key + "=" + value + ending;
        result += text.substr(insertAt);
        return result;
    }
    std::string result = text;
    if (!result.empty() && result.back() != '\n') result += ending;
    result += "[" + section + "]" + ending + key + "=" + value + ending;
    return result;
}

namespace {

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Next code point of UTF-8 text at `i`, advancing `i`; U+FFFD for a bad sequence.
char32_t nextCodePoint(const std::string& text, size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) return lead;
    size_t extra = 0;
    char32_t code = 0, minimum = 0;
    if ((lead & 0xE0) == 0xC0) extra = 1, code = lead & 0x1F, minimum = 0x80;
    else if ((lead & 0xF0) == 0xE0) extra = 2, code = lead & 0x0F, minimum = 0x800;
    else if ((lead & 0xF8) == 0xF0) extra = 3, code = lead & 0x07, minimum = 0x10000;
    else return 0xFFFD;
    for (size_t k = 0; k < extra; ++k) {
        if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0xFFFD;
        code = (code << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0xFFFD;
    return code;
}

char16_t unitAt(const std::string& bytes, size_t i, bool bigEndian) {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
}

void appendUnit(std::string& out, char16_t unit, bool bigEndian) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    if (bigEndian) out += high, out += low;
    else out += low, out += high;
}

}  // namespace

DecodedText decodeText(const std::string& bytes) {
    DecodedText decoded;
    auto startsWith = [&](const char* mark, size_t length) { return bytes.compare(0, length, mark, length) == 0; };
    if (startsWith("\xEF\xBB\xBF", 3)) {
        decoded.encoding = TextEncoding::Utf8Bom;
        decoded.text = bytes.substr(3);
        return decoded;
    }
    const bool little = startsWith("\xFF\xFE", 2), big = startsWith("\xFE\xFF", 2);
    if (!little && !big) {
        decoded.text = bytes;
        return decoded;
    }
    decoded.encoding = big ? TextEncoding::Utf16Be : TextEncoding::Utf16Le;
    size_t i = 2;
    for (; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = unitAt(bytes, i, big);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
            const char16_t next = unitAt(bytes, i + 2, big);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                appendUtf8(decoded.text, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                i += 2;
                continue;
            }
        }
        appendUtf8(decoded.text, (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFD : unit);
    }
    if (i < bytes.size()) appendUtf8(decoded.text, 0xFFFD);  // a dangling odd byte
    return decoded;
}

std::string encodeText(const DecodedText& decoded) {
    switch (decoded.encoding) {
        case TextEncoding::Plain: return decoded.text;
        case TextEncoding::Utf8Bom: return "\xEF\xBB\xBF" + decoded.text;
        case TextEncoding::Utf16Le:
        case TextEncoding::Utf16Be: break;
    }
    const bool big = decoded.encoding == TextEncoding::Utf16Be;
    std::string bytes = big ? "\xFE\xFF" : "\xFF\xFE";
    for (size_t i = 0; i < decoded.text.size();) {
        const char32_t code = nextCodePoint(decoded.text, i);
        if (code >= 0x10000) {
            appendUnit(bytes, static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)), big);
            appendUnit(bytes, static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)), big);
        } else {
            appendUnit(bytes, static_cast<char16_t>(code), big);
        }
    }
    return bytes;
}

}  // namespace starfell::ini
