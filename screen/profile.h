// Private-profile (INI) reads and writes of the game client's settings files:
// the Windows profile functions on Windows, our own text engine elsewhere.
#pragma once
#include <cstddef>
#include <optional>
#include <string>

namespace starfell {

// Characters of the buffer that reads use; a longer value is cut to one less.
constexpr std::size_t kProfileBufferChars = 32;

// The value of `key` in `section` of the INI file at `path`, with surrounding
// blanks and one pair of matching quotes removed, at most 31 characters;
// empty when the file, section or key is missing. Sections and keys match
// without regard to case and the first match wins.
std::wstring readProfileString(const std::wstring& section, const std::wstring& key, const std::wstring& path);

// Sets `key` in `section` to `value`, creating the file (in an existing
// folder), the section or the key as needed. False when nothing was written.
bool writeProfileString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                        const std::wstring& path);

// The text engine behind the POSIX pair above, on UTF-8 text.
namespace ini {

// The value as a read returns it (before the length limit); nullopt when the
// section or key is absent or the key line has no '='.
std::optional<std::string> findValue(const std::string& text, const std::string& section, const std::string& key);

// `text` with the key set. Every other line stays byte for byte as it was,
// line endings included; new lines use the text's own line ending.
std::string setValue(const std::string& text, const std::string& section, const std::string& key,
                     const std::string& value);

// How a settings file stores its text. Files with a byte-order mark are read
// and written back in their own encoding.
enum class TextEncoding { Plain, Utf8Bom, Utf16Le, Utf16Be };

struct DecodedText {
    std::string text;  // UTF-8 (plain files: their bytes as they are)
    TextEncoding encoding = TextEncoding::Plain;
};

DecodedText decodeText(const std::string& bytes);
std::string encodeText(const DecodedText& decoded);

}  // namespace ini
}  // namespace starfell
