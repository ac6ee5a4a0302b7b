// The player's log: every diagnostic line and every change of the status line,
// timestamped, in StarfellLauncher.log beside the launcher, so a player can send it.
#pragma once
#include <cstdint>
#include <string>

namespace starfell {

// Past this size the log moves to its one older copy and starts afresh, so
// neither file grows beyond it.
constexpr std::uintmax_t kLauncherLogLimit = 1024 * 1024;

// The log's file name and the name of its one older copy, beside the launcher.
extern const wchar_t* const kLauncherLogName;
extern const wchar_t* const kOlderLauncherLogName;

// Once, at start-up: from now on lines go to `path` (an empty path stops the
// log). Until then nothing is written, so tools and tests that share the code
// leave no log behind.
void startLauncherLog(const std::wstring& path);

// Any thread: one timestamped line. A log that cannot be written is skipped
// in silence; it never stops the launcher.
void appendToLauncherLog(const std::string& line);

}  // namespace starfell
