// The platform calls behind the self-update, one implementation per platform.
#pragma once
#include <cstdint>
#include <string>

namespace starfell::self_update_platform {

// ".exe" on Windows, nothing on Linux.
extern const char kExecutableSuffix[];

// True when `path` holds a file this platform could run: not empty and
// starting with the executable signature ("MZ" on Windows, ELF on Linux).
bool isPlausibleExecutable(const std::wstring& path);
// Gives the file execute permission where the platform needs one.
bool makeExecutable(const std::wstring& path);
// Writes the file's data through to the disk; false when that failed.
bool flushToDisk(const std::wstring& path);
// Puts the complete build `incoming` under the launcher's name `current`,
// keeping the build that was there as `old`. At every instant `current`
// names a whole build, or (Windows, between two renames) the old build is
// already under `old`. Returns 0 or the platform's error code.
std::uint32_t swapInBuild(const std::wstring& incoming, const std::wstring& current, const std::wstring& old);
// Puts the build kept as `old` back under `current`, replacing what is there.
bool restoreBuild(const std::wstring& old, const std::wstring& current);
// True when `path` is the file of the running program (under any name).
bool isRunningProgram(const std::wstring& path);
// Starts the program with no arguments and does not wait for it.
bool startProgram(const std::wstring& path);
// One line on the standard output stream.
void writeOutputLine(const std::wstring& line);

}  // namespace starfell::self_update_platform
