// The server's event log: one flushed line per event on stdout and, when
// configured, appended to a log file.
#pragma once
#include <string>

namespace starfell::server {

// Longest line the log writes; anything longer is cut and says so.
constexpr size_t MaxLogLineSize = 4096;

// Opens FILE for appending in addition to stdout; false when it cannot be opened.
bool openLogFile(const std::string& path);

// Writes one line to every log output and flushes. Control characters
// and bytes outside ASCII are written as \xHH, so text a client
// chose can neither start a line of its own nor send terminal escapes, and
// the line is cut at MaxLogLineSize bytes.
void logLine(const std::string& line);

// Text a client chose (a request path, a digest), made one field of a log
// line: spaces and backslashes are written as \xHH too, so it can neither
// pass for the fields after it nor for an escape the log wrote.
std::string logField(const std::string& text);

}  // namespace starfell::server
