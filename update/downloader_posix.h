// POSIX: the complete `Downloader`, fed by libcurl's progress callback. For the
// platform's download files and the POSIX tests.
#pragma once
#include <atomic>
#include <cstdint>

#include "update/download.h"

namespace starfell {

// There is one instance with static lifetime. `percent` is never reset: a new
// download shows the previous figure until its own first bytes arrive.
class Downloader {
public:
    std::atomic<std::int32_t> percent{0};

    // Fed by the transfer's progress callback, shaped like the Windows slot
    // (status code and text unused); always returns 0, "go on".
    int OnProgress(std::uint64_t progress, std::uint64_t progressMax, unsigned long statusCode = 0,
                   const wchar_t* statusText = nullptr);
};

}  // namespace starfell
