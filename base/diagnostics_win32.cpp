// Windows: narrow lines on std::cerr, wide lines on std::wcerr; the log takes the
// wide ones as UTF-8.
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
        std::cerr.clear();  // a launcher without a console has no stream; keep later lines possible
    }
    appendToLauncherLog(line);
}

void writeDiagnostic(const std::wstring& line) {
    {
        std::lock_guard<std::mutex> lock(streamMutex());
        std::wcerr << line << std::endl;
        // A character the C locale cannot convert fails the stream; without this
        // every later wide diagnostic would be lost too.
        std::wcerr.clear();
    }
    appendToLauncherLog(wideToUtf8(line));
}

}  // namespace starfell
