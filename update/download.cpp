// Shared part of the downloads: turning a progress report into whole percent.
#include "update/download.h"

namespace starfell {

Downloader downloader;

std::int32_t progressPercent(std::uint64_t received, std::uint64_t total, std::int32_t previous) {
    if (received == 0 || total == 0) return previous;
    // Single precision, then times 100 and truncated, the way the figure has
    // always been computed (512 of 1000 gives 51).
    const double figure = static_cast<float>(received) / static_cast<float>(total) * 100.0;
    if (figure >= 100.0) return 100;
    return static_cast<std::int32_t>(figure);
}

}  // namespace starfell
