// Verification and repair of the game files the server lists.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "update/work_context.h"

namespace starfell {

// Handler of a FileCheck packet (whole packet, type included): checks every
// listed file in the game folder, fetches the wrong ones again from the repair
// bases, and reports through launcherState. Runs on the file worker, one list
// at a time.
void verifyGameFiles(const std::string& packet, const WorkContext& context);

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
