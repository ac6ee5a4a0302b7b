// make-patch: the numbered patch archive that turns one clean game folder
// into the next, and the file-list entries of what it carries.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "server/packets.h"

namespace starfell::server {

struct PatchRequest {
    std::string from, to;  // clean game folders, old and new
    std::string number;    // the patch number, decimal
    std::string root;      // the content folder; the archive goes to root/patches/N.zip
    bool deltas = true;    // a changed file may travel as a binary delta
    bool damageDeltas = false;  // test of release's proof: every delta gets one wrong byte
};

struct PatchResult {
    std::string error;                  // empty on success
    std::string archive;                // the path written
    std::vector<std::string> added, changed, removed;  // relative paths; removed ones stay in players' folders
    std::vector<std::string> deltas;    // the changed files carried as binary deltas
    std::vector<FileEntry> entries;     // files.txt entries of the added and changed files
};

PatchResult makePatch(const PatchRequest& request);

// Whether two files hold the same bytes (false when either cannot be read).
bool sameBytes(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace starfell::server
