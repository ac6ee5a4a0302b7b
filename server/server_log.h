// The server's event log: one flushed line per event on stdout and, when
// configured, appended to a log file.
#pragma once
#include <string>

namespace starfell::server {

// Opens FILE for appending in addition to stdout; false when it cannot be opened.
bool openLogFile(const std::string& path);

// Writes one line (no line end in `line`) to every log output and flushes.
void logLine(const std::string& line);

}  // namespace starfell::server
