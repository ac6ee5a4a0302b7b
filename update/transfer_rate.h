// The transfer rate and time left of the running download, shown beside the
// progress bar: smoothed over about two seconds so the figures do not jump.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>

namespace starfell {

class TransferRate {
public:
    // A progress report: `received` of `total` bytes (total 0: not announced) at
    // `seconds` on a steady clock. Fewer bytes than before start a new transfer.
    void record(double seconds, std::uint64_t received, std::uint64_t total);
    // Same, at the current steady-clock time.
    void record(std::uint64_t received, std::uint64_t total);
    // "4.2 MB/s · 1:35 left", "380 kB/s" without a total, or "" until a rate is
    // known and once no report came for a while (the download ended). The
    // figures change at most twice a second.
    std::string text(double seconds) const;
    std::string text() const;

private:
    mutable std::mutex mutex_;
    bool started_ = false;
    double lastSeconds_ = 0;
    std::uint64_t lastReceived_ = 0;
    double bytesPerSecond_ = -1;  // smoothed; negative until the first interval
    double shownAt_ = -1;
    std::string shown_;
};

// The process-wide figure for the shared downloader, fed by each platform's progress slot.
TransferRate& downloadTransferRate();

// Formatting, shared with the tests: "4.2 MB/s", "380 kB/s", "900 B/s"; "1:35", "1:02:03".
std::string rateText(double bytesPerSecond);
std::string durationText(double seconds);

}  // namespace starfell
