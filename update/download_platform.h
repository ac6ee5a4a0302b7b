// The one download step each platform provides to the shared fetch logic
// (update/download_posix.cpp, update/download_win32.cpp).
#pragma once
#include <cstdint>
#include <string>

#include "update/download.h"

namespace starfell::download_platform {

enum class Attempt {
    Complete,      // the whole file is in the partial file
    CutOff,        // worth another try: timed out, cut off, refused for now (5xx)
    Missing,       // this store does not have it (4xx): try the next store
    TooLarge,      // the answer passed the size limit: try the next store
    LocalFailure,  // our side failed (a write error): no store can help
};

// One transfer of `url` into `partial`. When `validator` (the entity tag or
// modification date the partial bytes came with) is not empty, only the rest
// is asked for, on the condition that the file is still the same; a store
// that sends the whole file instead restarts the partial file from zero.
// `validator` is updated to what the store said of the file; a failure
// writes the "Download failed for: " line. The transfer writes the partial
// file itself and tells `digest`, when given, which of its bytes are final.
// The file never grows past `limit` bytes: the transfer stops there. A new
// partial file replaces whatever had its name (a link is never followed),
// and kept bytes are continued only in a plain file of its own.
Attempt transferPart(Downloader& progress, const std::string& url, const std::wstring& partial,
                     std::string& validator, GrowingFileDigest* digest, std::uint64_t limit);

// The diagnostic of a transfer stopped at its size limit.
void reportTooLarge(const std::string& url, std::uint64_t limit);

}  // namespace starfell::download_platform
