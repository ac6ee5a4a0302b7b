// Launcher self-update: replacing an outdated build and removing the old one.
#pragma once
#include <string>
#include <vector>

#include "update/download.h"

namespace starfell {

// Handler of the server's first hello answer (whole packet, type included).
// When the answer is "false" the launcher replaces itself, starts the new
// build and ends the process; when the replacement fails it keeps running
// and says so in the status line.
void checkLauncherBuild(const std::string& packet);

// Fetches the new build (`relativePath` below the patch bases, first that
// serves it) under a name of its own, writes it to disk, swaps it in under the
// launcher's name (the running build kept as the old build) and starts it.
// Only a build that passed its checks is used: signed for its place and its
// build number, newer than the running build, trusting the same update key.
// Anything else, or a build that cannot be swapped in or started, leaves the
// running build under the launcher's name, starts nothing and sets the status
// line. True when the new build was started.
bool replaceLauncherBuild(Downloader& downloader, const std::string& relativePath);

// True for a hello answer whose text field is exactly "false".
bool isOutdatedVerdict(const std::string& packet);

// Deletes builds that an earlier self-update left behind (executables in the
// launcher's folder whose name contains "OLDVersion", never the running
// program's own file) and a new build whose download was cut off. Skipped
// while a self-update is at work. Start-up, main thread.
void removeOldLauncher();

// Executables directly in `folder` (ending with its separator), as full
// paths, in the order the system lists them; directories excluded. Windows:
// files matching "*.exe". Linux: regular files ending in ".exe" or carrying
// an execute permission bit.
std::vector<std::wstring> listExecutables(const std::wstring& folder);

// File names of the launcher build: BrandName + "Launcher" + the platform's
// executable suffix, the old build's BrandName + "Launcher_OLDVersion" + suffix,
// and the new build's while it downloads, BrandName + "Launcher_NewVersion" +
// suffix + ".part".
std::wstring launcherBuildName();
std::wstring oldLauncherBuildName();
std::wstring incomingLauncherBuildName();

}  // namespace starfell
