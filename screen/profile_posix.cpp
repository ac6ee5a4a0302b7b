// POSIX: the profile functions over our own INI engine. Files are read whole
// and replaced through a temporary file, so a failed write loses nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/text_utils.h"
#include "screen/profile.h"

namespace starfell {

namespace {

bool readBytes(const std::string& path, std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) return false;
    bytes.clear();
    char block[4096];
    for (size_t read; (read = std::fread(block, 1, sizeof block, file)) > 0;) bytes.append(block, read);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool writeAll(int descriptor, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(descriptor, bytes.data() + done, bytes.size() - done);
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

// Writes `bytes` to a fresh file beside `path` and renames it over `path`.
bool replaceFile(const std::string& path, const std::string& bytes, mode_t mode) {
    std::string temporary = path + ".XXXXXX";
    const int descriptor = mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0) return false;
    bool ok = fchmod(descriptor, mode) == 0 && writeAll(descriptor, bytes);
    ok = (close(descriptor) == 0) && ok;
    if (ok) ok = std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

bool holdsLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

}  // namespace

std::wstring readProfileString(const std::wstring& section, const std::wstring& key, const std::wstring& path) {
    std::string bytes;
    if (!readBytes(wideToUtf8(path), bytes)) return std::wstring();
    const auto value = ini::findValue(ini::decodeText(bytes).text, wideToUtf8(section), wideToUtf8(key));
    if (!value) return std::wstring();
    std::wstring wide = utf8ToWide(*value);
    if (wide.size() >= kProfileBufferChars) wide.resize(kProfileBufferChars - 1);
    return wide;
}

bool writeProfileString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                        const std::wstring& path) {
    const std::string narrowPath = wideToUtf8(path);
    const std::string sectionText = wideToUtf8(section), keyText = wideToUtf8(key), valueText = wideToUtf8(value);
    // A line break or bracket would let the entry spill into lines of its own.
    if (holdsLineBreak(sectionText) || holdsLineBreak(keyText) || holdsLineBreak(valueText) ||
        sectionText.find(']') != std::string::npos || keyText.find('=') != std::string::npos || keyText.empty()) {
        writeDiagnostic("Refused INI entry for: " + narrowPath);
        return false;
    }

    struct stat info {};
    if (stat(narrowPath.c_str(), &info) != 0) {
        // A new file: nothing to lose, and the process's umask applies.
        const int descriptor = open(narrowPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0) return false;
        const bool ok = writeAll(descriptor, ini::setValue(std::string(), sectionText, keyText, valueText));
        return (close(descriptor) == 0) && ok;
    }
    if (!S_ISREG(info.st_mode)) return false;
    // The read-only attribute is the missing owner write bit; root would
    // otherwise write through it.
    if (fs::getAttributes(narrowPath) & fs::kReadOnly) return false;
    std::string bytes;
    if (!readBytes(narrowPath, bytes)) return false;
    ini::DecodedText decoded = ini::decodeText(bytes);
    // A file that would not come back unchanged is left alone rather than damaged.
    if (ini::encodeText(decoded) != bytes) {
        writeDiagnostic("Cannot rewrite INI file unchanged: " + narrowPath);
        return false;
    }
    decoded.text = ini::setValue(decoded.text, sectionText, keyText, valueText);
    return replaceFile(narrowPath, ini::encodeText(decoded), info.st_mode & 07777);
}

}  // namespace starfell
