// Windows: narrow lines on std::cerr, wide lines on std::wcerr.
#include <iostream>
#include <mutex>

#include "base/diagnostics.h"

namespace starfell {

namespace {
std::mutex& streamMutex() {
    static std::mutex mutex;
    return mutex;
}
}  // namespace

void writeDiagnostic(const std::string& line) {
    std::lock_guard<std::mutex> lock(streamMutex());
    std::cerr << line << std::endl;
    std::cerr.clear();  // a launcher without a console has no stream; keep later lines possible
}

void writeDiagnostic(const std::wstring& line) {
    std::lock_guard<std::mutex> lock(streamMutex());
    std::wcerr << line << std::endl;
    // A character the C locale cannot convert fails the stream; without this
    // every later wide diagnostic would be lost too.
    std::wcerr.clear();
}

}  // namespace starfell
