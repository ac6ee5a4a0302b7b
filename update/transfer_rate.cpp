// The download's smoothed transfer rate and time left, for the progress bar.
#include "update/transfer_rate.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace starfell {
namespace {

// Time constant of the moving average, and how often the shown text may change.
constexpr double SmoothingSeconds = 2.0;
constexpr double ShowEverySeconds = 0.5;
// No report for this long: the transfer is over (or stalled), and its figures are withdrawn.
constexpr double QuietSeconds = 5.0;

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string rateText(double bytesPerSecond) {
    char buffer[32];
    if (bytesPerSecond >= 1e6)
        std::snprintf(buffer, sizeof buffer, "%.1f MB/s", bytesPerSecond / 1e6);
    else if (bytesPerSecond >= 1e3)
        std::snprintf(buffer, sizeof buffer, "%.0f kB/s", std::floor(bytesPerSecond / 1e3));
    else
        std::snprintf(buffer, sizeof buffer, "%.0f B/s", std::floor(bytesPerSecond));
    return buffer;
}

std::string durationText(double seconds) {
    const long long whole = static_cast<long long>(std::ceil(std::max(0.0, seconds)));
    char buffer[32];
    if (whole >= 3600)
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld", whole / 60, whole % 60);
    return buffer;
}

void TransferRate::record(double seconds, std::uint64_t received, std::uint64_t total) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_ || received < lastReceived_) {
        // A new transfer: its rate builds up from its own bytes.
        started_ = true;
        lastSeconds_ = seconds;
        lastReceived_ = received;
        bytesPerSecond_ = -1;
        shownAt_ = -1;
        shown_.clear();
        return;
    }
    const double elapsed = seconds - lastSeconds_;
    if (elapsed <= 0) return;  // reports within one clock tick are summed into the next
    const double instant = static_cast<double>(received - lastReceived_) / elapsed;
    const double weight = 1.0 - std::exp(-elapsed / SmoothingSeconds);
    bytesPerSecond_ = bytesPerSecond_ < 0 ? instant : bytesPerSecond_ + weight * (instant - bytesPerSecond_);
    lastSeconds_ = seconds;
    lastReceived_ = received;

    if (shownAt_ >= 0 && seconds - shownAt_ < ShowEverySeconds) return;
    shownAt_ = seconds;
    shown_ = rateText(bytesPerSecond_);
    if (total > received && bytesPerSecond_ > 0)
        shown_ += " \xC2\xB7 " + durationText(static_cast<double>(total - received) / bytesPerSecond_) + " left";
}

void TransferRate::record(std::uint64_t received, std::uint64_t total) {
    record(steadySeconds(), received, total);
}

std::string TransferRate::text(double seconds) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seconds - lastSeconds_ > QuietSeconds ? std::string() : shown_;
}

std::string TransferRate::text() const { return text(steadySeconds()); }

TransferRate& downloadTransferRate() {
    static auto* rate = new TransferRate;  // never destroyed: the process may end mid-download
    return *rate;
}

}  // namespace starfell
