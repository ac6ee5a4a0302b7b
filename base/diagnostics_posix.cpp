// POSIX: wide lines are written as UTF-8 on the narrow stream, because one
// stdio stream cannot carry both byte and wide output (its orientation sticks).
#include <iostream>
#include <mutex>

#include "base/diagnostics.h"
#include "base/launcher_log.h"
#include "base/text_utils.h"

namespace starfell {

namespace {
std::mutex& streamMutex() {
    static std::mutex mutex;
    return mutex;
}
}  // namespace

void writeDiagnostic(const std::string& line) {
    {
        std::lock_guard<std::mutex> lock(streamMutex());
        std::cerr << line << std::endl;
    }
    appendToLauncherLog(line);
}

void writeDiagnostic(const std::wstring& line) {
    writeDiagnostic(wideToUtf8(line));
}

}  // namespace starfell
