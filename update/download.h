// Downloads over HTTP with progress: the one process-wide `downloader`, whose
// whole-percent figure drives the progress bar, and `fetchFile`, the one way
// every file arrives (mirrors, retries, resume, size bound, verdict).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update/download_digest.h"

namespace starfell {

// Whole percent for `received` of `total` bytes, or `previous` when the report
// says nothing new: no bytes yet, or a total that was not announced (0). The
// figure is clamped to 0..100 for a server that sends more than it announced.
std::int32_t progressPercent(std::uint64_t received, std::uint64_t total, std::int32_t previous);

// What a download reports its progress to. `percent` is never reset: a new
// download shows the previous figure until its own first bytes arrive.
class Downloader {
public:
    std::atomic<std::int32_t> percent{0};
    void OnProgress(std::uint64_t received, std::uint64_t total);
};

// The process-wide instance that every download reports to.
extern Downloader downloader;

// A second instance for small transfers whose progress nobody shows
// (signatures), so the bar keeps showing the file's.
Downloader& unshownDownloader();

// The shared instance's figure, for code that only shows it.
std::int32_t downloadPercent();

// Decides whether a completed download may be used (a signature check, for
// example) while it still lies under its temporary name `path`: `base` is the
// store it came from and `storePath` its path below that store, `digest` the
// file's BLAKE2b-512 when the transfer computed it on the way in (nullptr
// otherwise). A refused file is deleted and the next base is tried.
using AcceptDownload = std::function<bool(const std::wstring& path, const std::string& base,
                                          const std::string& storePath, const FileDigest* digest)>;

// The largest file a fetch takes unless told otherwise: a store that sends
// more is cut off there instead of filling the player's disk (set when the
// launcher is configured, STARFELL_MAXIMUM_DOWNLOAD_MIB).
std::uint64_t maximumDownloadBytes();

// Fetches `relativePath` below the first base URL that serves it (each base
// ends with '/') into `destination`. Whatever was at `destination` is removed
// first, and the new file takes that name only once `accept` (if given) has
// passed it: a fetch that fails, is refused or is cut short leaves nothing
// under the final name. Each base gets up to kAttemptsPerBase tries with a
// growing pause between them; a transfer cut off is resumed from the bytes
// already kept in `destination` + ".partial" when the store honours ranges for
// the same file, and starts over otherwise. A store that answers "not found",
// sends more than `limit` bytes, or whose file is refused is left at once for
// the next base. True when an accepted file is at `destination`.
bool fetchFile(Downloader& downloader, const std::vector<std::string>& baseUrls, const std::string& relativePath,
               const std::wstring& destination, const AcceptDownload& accept = {},
               std::uint64_t limit = maximumDownloadBytes());

constexpr int kAttemptsPerBase = 3;

}  // namespace starfell
