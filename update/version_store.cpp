// Reading (and on a fresh installation creating) "version.dat".
#include "update/version_store.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "update/file_utils.h"

namespace starfell {

namespace {

constexpr char kInitialVersion[] = "1000";
// Only the first line matters; a longer one is cut here rather than read whole.
constexpr size_t kMaximumLineLength = 4096;

}  // namespace

std::string readInstalledVersionIn(const std::string& folder) {
    const std::string path = folder + "version.dat";
    if (std::FILE* file = std::fopen(path.c_str(), "r")) {
        std::string line;
        for (int c; (c = std::fgetc(file)) != EOF && c != '\n' && line.size() < kMaximumLineLength;)
            line.push_back(static_cast<char>(c));
        std::fclose(file);
        // Text mode drops the carriage return of a CRLF line end only on Windows.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }
    if (std::FILE* file = std::fopen(path.c_str(), "w")) {
        std::fputs(kInitialVersion, file);
        std::fclose(file);
    }
    return kInitialVersion;
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
