// The player's log: one line at a time, opened and closed for each, so the
// file can be copied, sent or deleted while the launcher runs, and several
// launchers in one folder share it.
#include "base/launcher_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "base/file_platform.h"

namespace starfell {

const wchar_t* const kLauncherLogName = L"StarfellLauncher.log";
const wchar_t* const kOlderLauncherLogName = L"StarfellLauncher.old.log";

namespace {

struct LogFile {
    std::mutex mutex;
    std::wstring path;
    std::wstring olderPath;
};

LogFile& logFile() {
    static auto* file = new LogFile;  // never destroyed: any thread may log while the process ends
    return *file;
}

// Local time with milliseconds: "2024-05-01 18:04:09.123".
std::string timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    char text[32] = "0000-00-00 00:00:00";
    if (const std::tm* local = std::localtime(&seconds))  // called only under the log's lock
        std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", local);
    char withMillis[40];
    std::snprintf(withMillis, sizeof(withMillis), "%s.%03d", text, static_cast<int>(millis));
    return withMillis;
}

}  // namespace

void startLauncherLog(const std::wstring& path) {
    LogFile& log = logFile();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.path = path;
    log.olderPath.clear();
    if (path.empty()) return;
    const std::size_t folderEnd = path.find_last_of(L"\\/");
    log.olderPath = (folderEnd == std::wstring::npos ? std::wstring() : path.substr(0, folderEnd + 1)) +
                    kOlderLauncherLogName;
}

void appendToLauncherLog(const std::string& line) {
    LogFile& log = logFile();
    std::lock_guard<std::mutex> lock(log.mutex);
    if (log.path.empty()) return;
    // A line is cut short where it would crowd out the rest of the log.
    const std::size_t kLongestLine = 8192;
    const std::string entry = timestamp() + "  " + line.substr(0, kLongestLine) + "\n";

    std::FILE* file = fs::openFile(log.path, "ab");
    if (!file) return;
    // Append mode reports the end of the file as its position.
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    if (size > 0 && static_cast<std::uintmax_t>(size) + entry.size() >= kLauncherLogLimit) {
        std::fclose(file);
        fs::removeFile(log.olderPath);
        fs::moveFile(log.path, log.olderPath);  // on failure the log just starts over below
        file = fs::openFile(log.path, "wb");
        if (!file) return;
    }
    std::fwrite(entry.data(), 1, entry.size(), file);
    std::fclose(file);
}

}  // namespace starfell
