// Verification and repair of the game files the server lists.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace starfell {

// Handler of a FileCheck packet (whole packet, type included): checks every
// listed file in the launcher's folder, re-downloads the wrong ones from the
// web site, and reports through launcherState. Runs on the file worker, one
// list at a time.
void verifyGameFiles(const std::string& packet);

// Whether repairs first close a running game client with the player's consent
// (the launcher's own runs) or download at once (runs that must not depend on
// which processes happen to exist on the machine, such as tests).
enum class RepairGuard { CloseRunningGame, DownloadAtOnce };

// The same run for any game folder (UTF-8, ending with its separator) and any
// web site (ending with '/').
void verifyGameFiles(const std::string& packet, const std::string& folder, const std::string& websiteUrl,
                     RepairGuard guard = RepairGuard::CloseRunningGame);
// The same with repairs from the first of several bases that serves each file.
void verifyGameFiles(const std::string& packet, const std::string& folder,
                     const std::vector<std::string>& repairBaseUrls, RepairGuard guard = RepairGuard::CloseRunningGame);

// True when a server-sent relative path is one an archive entry could not
// have (update/archive_paths.h): it could reach outside the game folder or a
// file there by another spelling (device names, streams, short names ...).
bool isUnsafeRelativePath(const std::string& relativePath);

// Where the repair copy of `relativePath` lies below a repair base
// ("patches/Launcher/data/x.dat"): only when `downloadName` names the same
// file (the same safe components, either separator), since the copy's
// signature names that store path. Empty otherwise.
std::optional<std::string> repairStorePath(const std::string& relativePath, const std::string& downloadName);

// The status line of a run that left files wrong: the failed files counted
// and the first three named, then whether the list was cut short. Entries the
// list promised but did not hold are neither counted nor named: nothing is
// known of them.
std::string failureMessage(const std::vector<std::string>& failedNames, bool listCutShort = false);

}  // namespace starfell
