// The platform calls behind the self-update, one implementation per platform.
#pragma once
#include <string>

namespace starfell::self_update_platform {

// ".exe" on Windows, nothing on Linux.
extern const char kExecutableSuffix[];

// True when `path` holds a file this platform could run: not empty and
// starting with the executable signature ("MZ" on Windows, ELF on Linux).
bool isPlausibleExecutable(const std::wstring& path);
// Gives the file execute permission where the platform needs one.
bool makeExecutable(const std::wstring& path);
// Starts the program with no arguments and does not wait for it.
bool startProgram(const std::wstring& path);
// One line on the standard output stream.
void writeOutputLine(const std::wstring& line);

}  // namespace starfell::self_update_platform
