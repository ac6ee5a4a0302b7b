// Diagnostic lines on the standard error stream: one line each, flushed.
#pragma once
#include <string>

namespace starfell {

void writeDiagnostic(const std::string& line);
void writeDiagnostic(const std::wstring& line);

}  // namespace starfell
