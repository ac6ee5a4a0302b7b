// Shared part of the self-update: when to replace the launcher, and how to do
// it without ever leaving the player without a working build.
#include "update/self_update.h"

#include <mutex>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/file_utils.h"
#include "base/process_end.h"
#include "base/text_utils.h"
#include "core/launcher_config.h"
#include "core/launcher_state.h"
#include "core/packet.h"
#include "update/build_identity.h"
#include "update/minisign_format.h"
#include "update/self_update_platform.h"
#include "update/signature.h"
#include "update/signed_files.h"

namespace starfell {

namespace {

constexpr char kUpdateFailed[] = "Launcher update failed. Please try again later.";

std::wstring fileNameOf(const std::wstring& path) {
    const auto separator = path.find_last_of(L"/\\");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

void reportFailure(const std::wstring& reason) {
    launcherState.noteLastingFailure(kUpdateFailed);
    writeDiagnostic(reason);
}

void refuseBuild(const std::wstring& path, const std::string& reason) {
    writeDiagnostic(L"Launcher build refused: " + utf8ToWide(reason) + L": " + path);
}

// What a downloaded build must be, beyond its signature: a program of this
// platform, of a higher build number than the running one (so no older build
// is ever served back, and a store that offers this very build does not make
// the launcher download and restart for ever), and, where builds are signed,
// signed for that number and trusting the same key (a build with another key
// or none would end the checks for good).
bool acceptableBuild(const std::wstring& path, const std::string& trustedComment) {
    if (!self_update_platform::isPlausibleExecutable(path)) {
        refuseBuild(path, "not a program for this system");
        return false;
    }
    const std::string keyLine = updateKeyLine();
    const std::optional<BuildFacts> facts = readBuildFacts(path, keyLine);
    if (!facts || !facts->number) {
        refuseBuild(path, "no build number");
        return false;
    }
    const std::uint32_t running = ownBuildNumber();
    if (*facts->number <= running) {
        refuseBuild(path, "build " + std::to_string(*facts->number) + " is not newer than build " +
                              std::to_string(running));
        return false;
    }
    if (!updateKeyBuiltIn()) return true;
    std::string signedNumber;
    if (!minisign::commentField(trustedComment, "build", signedNumber) ||
        signedNumber != std::to_string(*facts->number)) {
        refuseBuild(path, "its signature does not name build " + std::to_string(*facts->number));
        return false;
    }
    if (!facts->carriesKeyLine) {
        refuseBuild(path, "it does not trust this launcher's update key");
        return false;
    }
    return true;
}

// Held by a self-update from its download to its end, and by the removal of
// old builds, so the two never work on the build files at once.
std::mutex& buildFilesMutex() {
    static auto* mutex = new std::mutex;  // never destroyed: the process ends while workers hold it
    return *mutex;
}

}  // namespace

std::wstring launcherBuildName() {
    return utf8ToWide(launcherConfig().BrandName + "Launcher" + self_update_platform::kExecutableSuffix);
}

std::wstring oldLauncherBuildName() {
    return utf8ToWide(launcherConfig().BrandName + "Launcher_OLDVersion" + self_update_platform::kExecutableSuffix);
}

std::wstring incomingLauncherBuildName() {
    return utf8ToWide(launcherConfig().BrandName + "Launcher_NewVersion" + self_update_platform::kExecutableSuffix +
                      ".part");
}

bool replaceLauncherBuild(Downloader& downloader, const std::string& relativePath) {
    std::lock_guard<std::mutex> noCleanupMeanwhile(buildFilesMutex());
    const std::wstring folder = launcherFolder();
    const std::wstring current = folder + launcherBuildName();
    const std::wstring old = folder + oldLauncherBuildName();
    const std::wstring incoming = folder + incomingLauncherBuildName();

    // The new build arrives under a name of its own, so a failed, cut-off or
    // killed download never touches the build the player starts.
    if (!fetchFile(downloader, launcherConfig().PatchBaseUrls, relativePath, incoming,
                   signedDownloadCheck(acceptableBuild))) {
        fs::removeFile(incoming);
        reportFailure(L"Launcher update failed: no usable build downloaded to: " + incoming);
        return false;
    }
    self_update_platform::makeExecutable(incoming);
    if (!self_update_platform::flushToDisk(incoming)) {
        fs::removeFile(incoming);
        reportFailure(L"Launcher update failed: the new build could not be written to disk: " + incoming);
        return false;
    }

    const std::uint32_t swapped = self_update_platform::swapInBuild(incoming, current, old);
    if (swapped != 0) {
        fs::removeFile(incoming);
        reportFailure(L"Launcher update failed: cannot put the new build in place: " + current + L" Error: " +
                      std::to_wstring(swapped));
        return false;
    }
    if (self_update_platform::startProgram(current)) return true;

    // The old build goes back under its name, so the player keeps a launcher.
    writeDiagnostic(L"Failed to start the new launcher build: " + current);
    self_update_platform::restoreBuild(old, current);
    reportFailure(L"Launcher update failed, kept the running build: " + current);
    return false;
}

bool isOutdatedVerdict(const std::string& packet) {
    // The whole text field, byte for byte: "false" followed by a NUL and more
    // is not the verdict.
    static constexpr char kOutdated[] = "false";
    constexpr std::size_t kLength = sizeof kOutdated - 1;
    return packet.size() >= 5 + kLength && static_cast<unsigned char>(packet[4]) == kLength &&
           packet.compare(5, kLength, kOutdated) == 0;
}

void checkLauncherBuild(const std::string& packet) {
    if (!isOutdatedVerdict(packet)) return;

    launcherState.setPhase(LauncherPhase::SelfUpdating);
    launcherState.setStatusText("Download a new version of the Launcher.");
    const LauncherConfig& config = launcherConfig();
    const std::string build = "patches/Launcher/" + config.BrandName + "Launcher" + self_update_platform::kExecutableSuffix;
    if (replaceLauncherBuild(downloader, build)) endProcess(0);
    // The rest of the run goes on as for a current build.
    LauncherPhase updating = LauncherPhase::SelfUpdating;
    launcherState.phase.compare_exchange_strong(updating, LauncherPhase::Greeted);
}

void removeOldLauncher() {
    // A self-update at work owns the build files; what it leaves is removed
    // by the next start.
    std::unique_lock<std::mutex> noUpdateMeanwhile(buildFilesMutex(), std::try_to_lock);
    if (!noUpdateMeanwhile.owns_lock()) return;
    const std::wstring folder = launcherFolder();
    for (const std::wstring& path : listExecutables(folder)) {
        if (fileNameOf(path).find(L"OLDVersion") == std::wstring::npos) continue;
        if (self_update_platform::isRunningProgram(path)) continue;
        self_update_platform::writeOutputLine(path);
        fs::removeFile(path);
    }
    fs::removeFile(folder + incomingLauncherBuildName());  // a download cut off by a killed launcher
}

}  // namespace starfell
