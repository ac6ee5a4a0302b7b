// Shared part of the self-update: when to replace the launcher, and how to do
// it without ever leaving the player without a working build.
#include "update/self_update.h"

#include <cstdlib>

#include "core/launcher_config.h"
#include "core/launcher_state.h"
#include "core/packet.h"
#include "update/diagnostics.h"
#include "update/file_platform.h"
#include "update/file_utils.h"
#include "update/self_update_platform.h"
#include "update/text_utils.h"

namespace starfell {

namespace {

constexpr char kUpdateFailed[] = "Launcher update failed. Please try again later.";

std::wstring fileNameOf(const std::wstring& path) {
    const auto separator = path.find_last_of(L"/\\");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

void reportFailure(const std::wstring& reason) {
    launcherState.setStatusText(kUpdateFailed);
    writeDiagnostic(reason);
}

}  // namespace

std::wstring launcherBuildName() {
    return utf8ToWide(launcherConfig().BrandName + "Launcher" + self_update_platform::kExecutableSuffix);
}

std::wstring oldLauncherBuildName() {
    return utf8ToWide(launcherConfig().BrandName + "Launcher_OLDVersion" + self_update_platform::kExecutableSuffix);
}

bool replaceLauncherBuild(Downloader& downloader, const std::string& url) {
    const std::wstring folder = launcherFolder();
    const std::wstring current = folder + launcherBuildName();
    const std::wstring old = folder + oldLauncherBuildName();

    // A stale old build from an earlier update would block the move; if it
    // cannot go (its process still runs), the update waits for a later start
    // rather than restarting this same build.
    fs::removeFile(old);
    const std::uint32_t moved = fs::moveFile(current, old);
    if (moved != fs::kSuccess && moved != fs::kFileNotFound) {
        reportFailure(L"Launcher update failed: cannot move the running build aside: " + current +
                      L" Error: " + std::to_wstring(moved));
        return false;
    }

    downloadFile(downloader, utf8ToWide(url), current);

    bool started = false;
    if (self_update_platform::isPlausibleExecutable(current)) {
        self_update_platform::makeExecutable(current);
        started = self_update_platform::startProgram(current);
        if (!started) writeDiagnostic(L"Failed to start the new launcher build: " + current);
    } else {
        writeDiagnostic(L"Launcher update failed: no usable build downloaded to: " + current);
    }
    if (started) return true;

    // Put the old build back under its name, so the player keeps a launcher.
    fs::removeFile(current);
    if (moved == fs::kSuccess) fs::moveFile(old, current);
    reportFailure(L"Launcher update failed, kept the running build: " + current);
    return false;
}

void replaceLauncher(Downloader& downloader, const std::string& url) { replaceLauncherBuild(downloader, url); }

void checkLauncherBuild(const std::string& packet) {
    const std::size_t length = packet.size() > 4 ? static_cast<unsigned char>(packet[4]) : 0;
    if (readString(packet, 5, length) != "false") return;

    launcherState.phase = LauncherPhase::SelfUpdating;
    launcherState.setStatusText("Download a new version of the Launcher.");
    const LauncherConfig& config = launcherConfig();
    const std::string url = config.PatchBaseUrl + "patches/Launcher/" + config.BrandName + "Launcher" +
                            self_update_platform::kExecutableSuffix;
    if (replaceLauncherBuild(downloader, url)) std::exit(0);
}

void removeOldLauncher() {
    for (const std::wstring& path : listExecutables(launcherFolder())) {
        if (fileNameOf(path).find(L"OLDVersion") == std::wstring::npos) continue;
        self_update_platform::writeOutputLine(path);
        fs::removeFile(path);
    }
}

}  // namespace starfell
