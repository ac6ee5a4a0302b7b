// The server's event log; many connection threads write to it at once.
#include "server/server_log.h"

#include <algorithm>
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

namespace {

const char hexDigits[] = "0123456789abcdef";

void appendEscaped(std::string& out, unsigned char c) {
    out += "\\x";
    out += hexDigits[c >> 4];
    out += hexDigits[c & 15];
}

std::string printable(const std::string& text) {
    std::string out;
    out.reserve(std::min(text.size(), MaxLogLineSize) + 16);
    size_t used = 0;
    for (; used < text.size(); ++used) {
        unsigned char c = static_cast<unsigned char>(text[used]);
        bool plain = c >= 0x20 && c < 0x7f;
        if (out.size() + (plain ? 1 : 4) > MaxLogLineSize) break;
        if (plain) {
            out += static_cast<char>(c);
        } else {
            appendEscaped(out, c);
        }
    }
    if (used < text.size()) out += " ...(" + std::to_string(text.size() - used) + " more bytes)";
    return out;
}

}  // namespace

std::string logField(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c > 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            appendEscaped(out, c);
        }
    }
    return out;
}

void logLine(const std::string& line) {
    std::string text = printable(line);
    text += '\n';
    std::lock_guard<std::mutex> lock(logMutex);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    if (logFile) {
        std::fwrite(text.data(), 1, text.size(), logFile);
        std::fflush(logFile);
    }
}

}  // namespace starfell::server
