// Applying the binary deltas a patch archive may carry (update/delta_format.h)
// to the game folder: only over the exact file a delta was made from, and
// otherwise by fetching the whole new file.
#pragma once
#include <miniz.h>

#include <functional>
#include <string>

namespace starfell::delta {

// Fetches the whole signed copy of the game file `relativePath` ('/' between
// folders) to `destination` (UTF-8); true when an accepted copy is there.
using WholeFileFetch = std::function<bool(const std::string& relativePath, const std::string& destination)>;

// True for an entry of the reserved delta folder (any case, either separator):
// never written into the game folder as it is.
bool isReservedEntry(const char* name);

// Brings every file the archive's delta index lists to its result in `folder`
// (UTF-8, ending with a separator). A file that already holds the result is
// left alone (a run cut off after it); one that holds the delta's base gets the
// delta, written beside it, checked against the result's digest and renamed
// over it; any other (changed by the player, damaged, missing), or one whose
// delta fails, is fetched whole through `fetchWhole` and checked the same way.
// True when every listed file holds its result; an archive without an index is
// nothing to do. Names are checked as archive entries are, and never reached
// through a link.
bool applyDeltas(mz_zip_archive& zip, const std::string& folder, const WholeFileFetch& fetchWhole);

// The BLAKE2b-256 digest of a file in lowercase hex, empty when it cannot be read.
std::string fileDigest(const std::string& path);

}  // namespace starfell::delta
