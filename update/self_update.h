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

// Moves the running build aside, downloads the new one from `url` in its
// place and starts it. A download that leaves no usable executable puts the
// old build back, starts nothing and sets the status line.
void replaceLauncher(Downloader& downloader, const std::string& url);
// The same, telling whether the new build was started.
bool replaceLauncherBuild(Downloader& downloader, const std::string& url);

// Deletes builds that an earlier self-update left behind (executables in the
// launcher's folder whose name contains "OLDVersion"). Start-up, main thread.
void removeOldLauncher();

// Executables directly in `folder` (ending with its separator), as full
// paths, in the order the system lists them; directories excluded. Windows:
// files matching "*.exe". Linux: regular files ending in ".exe" or carrying
// an execute permission bit.
std::vector<std::wstring> listExecutables(const std::wstring& folder);

// File names of the launcher build: BrandName + "Launcher" + the platform's
// executable suffix, and the old build's BrandName + "Launcher_OLDVersion" + suffix.
std::wstring launcherBuildName();
std::wstring oldLauncherBuildName();

}  // namespace starfell
