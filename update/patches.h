// Numbered patch archives: download, extraction over the game folder.
#pragma once
#include <string>

namespace starfell {

// Handler of a PatchList packet (whole packet, type included).
void applyPatchList(const std::string& packet);

}  // namespace starfell
