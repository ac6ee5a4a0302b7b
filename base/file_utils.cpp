// Shared logic of the file helpers, on top of the platform calls of file_platform.h.
#include "base/file_utils.h"

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/text_utils.h"

namespace starfell {

namespace {

template <typename String>
typename String::size_type lastSeparator(const String& path) {
    using Char = typename String::value_type;
    const Char separators[] = {static_cast<Char>('\\'), static_cast<Char>('/'), 0};
    return path.find_last_of(separators);
}

std::wstring asWideLine(const std::string& text) { return utf8ToWide(text); }

std::string message(const std::string&, const char* text) { return text; }
std::wstring message(const std::wstring&, const char* text) { return asWideLine(text); }

template <typename String>
String decimal(std::uint32_t value) {
    const std::string digits = std::to_string(value);
    return String(digits.begin(), digits.end());
}

template <typename String>
bool deleteWithRetries(const String& path) {
    const std::uint32_t attributes = fs::getAttributes(path);
    if (attributes == fs::kInvalidAttributes) return true;
    if (attributes & fs::kBlockingAttributes) {
        if (!fs::setAttributes(path, fs::kNormal)) {
            writeDiagnostic(message(path, "Failed to remove attributes for: ") + path);
            return false;
        }
    }
    for (int attempt = 1;; ++attempt) {
        const std::uint32_t error = fs::removeFile(path);
        if (error == fs::kSuccess || error == fs::kFileNotFound) return true;
        if (error != fs::kAccessDenied && error != fs::kSharingViolation) {
            writeDiagnostic(message(path, "Failed to delete file: ") + path + message(path, " Error: ") +
                            decimal<String>(error));
            return false;
        }
        fs::sleepMilliseconds(100);
        if (attempt == 3) {
            writeDiagnostic(message(path, "Failed to delete file after retries: ") + path);
            return false;
        }
    }
}

}  // namespace

std::wstring folderOfPath(const std::wstring& path) {
    const auto separator = lastSeparator(path);
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

std::string folderFromPieces(const std::string& path, char separator) {
    const auto pieces = splitText(path, std::string(1, separator));
    std::string folder;
    for (size_t i = 0; i + 1 < pieces.size(); ++i) folder += pieces[i] + separator;
    return folder;
}

std::wstring launcherFolder() { return folderOfPath(fs::modulePath()); }

std::string launcherFolderNarrow() { return folderFromPieces(fs::modulePathNarrow(), fs::kSeparator); }

bool deleteFileWithRetries(const std::wstring& path) { return deleteWithRetries(path); }
bool deleteFileWithRetries(const std::string& path) { return deleteWithRetries(path); }

bool replaceFileKeepingAttributes(const std::string& replacement, const std::string& target, bool flushed) {
    const std::wstring from = utf8ToWide(replacement), to = utf8ToWide(target);
    // Windows refuses to rename over a protected file: its protective
    // attributes are cleared for the rename and given to the new file.
    const std::uint32_t attributes = fs::getAttributes(to);
    const bool existed = attributes != fs::kInvalidAttributes;
    const std::uint32_t kept = existed ? attributes & fs::kBlockingAttributes : 0;
    if (kept && !fs::setAttributes(to, fs::kNormal)) {
        fs::removeFile(from);
        writeDiagnostic("Failed to remove attributes for: " + target);
        return false;
    }
    // A file that is briefly locked gets three attempts, 100 ms apart.
    std::uint32_t error = fs::kSuccess;
    for (int attempt = 0; attempt < 3; ++attempt) {
        error = flushed ? fs::replaceFlushedFile(from, to) : fs::replaceFile(from, to);
        if (error != fs::kAccessDenied && error != fs::kSharingViolation) break;
        fs::sleepMilliseconds(100);
    }
    if (error != fs::kSuccess) {
        fs::removeFile(from);
        if (kept) fs::setAttributes(to, kept);
        writeDiagnostic((existed ? "Failed to delete file: " : "Failed to move file into place: ") + target +
                        " Error: " + std::to_string(error));
        return false;
    }
    if (kept) fs::setAttributes(to, kept);
    return true;
}

bool createParentDirectory(const std::string& path) {
    const auto separator = lastSeparator(path);
    // A bare file name lives in the current directory, which exists.
    if (separator == std::string::npos) return true;
    const std::uint32_t error = fs::makeDirectory(path.substr(0, separator));
    return error == fs::kSuccess || error == fs::kAlreadyExists;
}

}  // namespace starfell
