// Numbered patch archives: download, extraction over the game folder.
#pragma once
#include <cstdint>
#include <string>

#include "update/delta_apply.h"
#include "update/work_context.h"

namespace starfell {

// Handler of a PatchList packet (whole packet, type included): every listed
// patch newer than the installed version is downloaded into the game
// folder's "Downloads", extracted over the game folder and deleted once it
// applied cleanly. An entry without a number is skipped.
void applyPatchList(const std::string& packet, const WorkContext& context);

// Reads a patch entry as a standard string-to-int conversion does: leading
// white space and a sign allowed, the digits after them, anything following
// ignored; false when there are no digits or the value does not fit 32 bits.
bool readPatchNumber(const std::wstring& entry, std::int32_t& number);

// Extracts every entry of the ZIP archive into `destinationFolder` (both
// UTF-8). True when every entry was written; false when the archive cannot
// be opened or any entry failed (the others are still applied). Entries whose
// names could lead outside the folder are refused, and nothing is written
// through a symbolic link.
//
// A "version.dat" at the archive's top level is written after every other
// entry, and only when all of them were written, so an extraction that is
// cut short or fails never leaves a version file claiming the patch. With
// `writeVersionFile` false it is not written at all (an earlier patch of the
// same list failed); the rest of the archive is applied as usual.
//
// Binary deltas the archive carries are applied after the whole entries; a
// file they cannot be applied to is fetched whole through `fetchWhole`.
bool extractArchive(const std::string& archivePath, const std::string& destinationFolder,
                    bool writeVersionFile = true, const delta::WholeFileFetch& fetchWhole = {});

// Most bytes one archive may write in total, against archives that unpack to
// far more than any patch holds. Each entry is also held to its declared size.
constexpr std::uint64_t kMaximumExtractedBytes = std::uint64_t{4} << 30;

}  // namespace starfell
