// Reading (and on a fresh installation creating) "version.dat".
#include "update/version_store.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "base/file_platform.h"
#include "base/file_utils.h"

namespace starfell {

namespace {

constexpr char kInitialVersion[] = "1000";
// Only the first line matters; a longer one is cut here rather than read whole.
constexpr size_t kMaximumLineLength = 4096;

// Written beside the file and renamed into place once on the disk, so a crash
// never leaves an empty or half-written version file.
void writeInitialVersion(const std::string& path) {
    const std::string temporary = path + ".partial";
    fs::removeFile(temporary);  // left over from an interrupted run
    std::FILE* file = fs::openFile(temporary, "w");
    if (!file) return;
    const bool written = std::fputs(kInitialVersion, file) >= 0;
    if (std::fclose(file) != 0 || !written || fs::replaceFile(temporary, path) != fs::kSuccess)
        fs::removeFile(temporary);
}

// The file's first line without its line end; false when it cannot be opened.
bool readFirstLine(const std::string& path, std::string& line) {
    std::FILE* file = fs::openFile(path, "r");
    if (!file) return false;
    line.clear();
    for (int c; (c = std::fgetc(file)) != EOF && c != '\n' && line.size() < kMaximumLineLength;)
        line.push_back(static_cast<char>(c));
    std::fclose(file);
    // Text mode drops the carriage return of a CRLF line end only on Windows.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

}  // namespace

std::string readInstalledVersionIn(const std::string& folder) {
    const std::string path = folder + "version.dat";
    std::string line;
    if (readFirstLine(path, line)) return line;
    writeInitialVersion(path);
    return kInitialVersion;
}

std::string peekInstalledVersion() {
    std::string line;
    return readFirstLine(launcherFolderNarrow() + "version.dat", line) ? line : kInitialVersion;
}

std::string readInstalledVersion() { return readInstalledVersionIn(launcherFolderNarrow()); }

bool parseVersionNumber(const std::string& text, std::int32_t& number) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(start, &end, 10);
    if (end == start || errno == ERANGE) return false;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return false;
    number = static_cast<std::int32_t>(value);
    return true;
}

}  // namespace starfell
