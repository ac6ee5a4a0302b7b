// Diagnostic lines on the standard error stream, one line each, flushed, and
// in the player's log (base/launcher_log.h).
#pragma once
#include <string>

namespace starfell {

void writeDiagnostic(const std::string& line);
void writeDiagnostic(const std::wstring& line);

}  // namespace starfell
