// The server's event log; many connection threads write to it at once.
#include "server/server_log.h"

#include <cstdio>
#include <mutex>

namespace starfell::server {

namespace {
std::mutex logMutex;
std::FILE* logFile = nullptr;
}  // namespace

bool openLogFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(logMutex);
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file) return false;
    if (logFile) std::fclose(logFile);
    logFile = file;
    return true;
}

void logLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(logMutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (logFile) {
        std::fwrite(line.data(), 1, line.size(), logFile);
        std::fputc('\n', logFile);
        std::fflush(logFile);
    }
}

}  // namespace starfell::server
