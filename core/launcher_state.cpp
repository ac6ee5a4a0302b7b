// Guarded access to the shared launcher state.
#include "core/launcher_state.h"

#include <utility>

#include "base/launcher_log.h"

namespace starfell {

LauncherState& launcherState = *new LauncherState;

namespace {

// The status line's texts go to the player's log as the screen shows them.
void logStatusChange(const std::string& before, const std::string& after) {
    if (after != before) appendToLauncherLog("Status: " + after);
}

}  // namespace

void LauncherState::setStatusText(std::string text) {
    std::string before;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        before = std::exchange(statusText_, std::move(text));
        if (statusText_ != before) ++revision_;
        text = statusText_;
    }
    logStatusChange(before, text);
    notifyChanged();
}

void LauncherState::reset() {
    authorised = 0;
    phase = LauncherPhase::Idle;
    sendFailures = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    statusText_ = "Checking for new update..";
    lastingFailure_.clear();
    patchFailure_.clear();
    installedVersion_.clear();
    newsItems_.clear();
    ++newsRevision_;
    ++revision_;
}

void LauncherState::noteLastingFailure(std::string text) { noteFailure(std::move(text), std::nullopt); }

void LauncherState::notePatchFailure(std::string text, std::int32_t patchNumber) {
    noteFailure(std::move(text), patchNumber);
}

void LauncherState::noteFailure(std::string text, std::optional<std::int32_t> failedPatch) {
    std::string before;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        before = std::exchange(statusText_, text);
        if (failedPatch) {
            patchFailure_ = text;
            failedPatch_ = *failedPatch;
        } else {
            lastingFailure_ = text;
        }
        if (statusText_ != before) ++revision_;
    }
    logStatusChange(before, text);
    notifyChanged();
}

void LauncherState::notePatchesReached(std::int32_t installedNumber) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (installedNumber >= failedPatch_) patchFailure_.clear();
}

void LauncherState::settleStatusText(std::string text) {
    std::string before;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!patchFailure_.empty()) text = patchFailure_;
        else if (!lastingFailure_.empty()) text = lastingFailure_;
        before = std::exchange(statusText_, text);
        if (statusText_ != before) ++revision_;
    }
    logStatusChange(before, text);
    notifyChanged();
}

std::string LauncherState::statusText() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statusText_;
}

void LauncherState::setInstalledVersion(std::string version) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (version != installedVersion_) ++revision_;
        installedVersion_ = std::move(version);
    }
    notifyChanged();
}

std::string LauncherState::installedVersion() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return installedVersion_;
}

bool LauncherState::appendNews(std::string line) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The first lines stay: what the server sends at the start is its news.
        if (newsItems_.size() >= kMaximumNewsItems) return false;
        newsItems_.push_back(std::move(line));
        ++newsRevision_;
        ++revision_;
    }
    notifyChanged();
    return true;
}

void LauncherState::setPhase(LauncherPhase next) {
    phase.store(next);
    notifyChanged();
}

void LauncherState::setChangeListener(void (*listener)()) { changeListener_.store(listener); }

void LauncherState::notifyChanged() const {
    if (void (*listener)() = changeListener_.load()) listener();
}

std::vector<std::string> LauncherState::newsItems() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return newsItems_;
}

std::uint64_t LauncherState::revision() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return revision_;
}

void LauncherState::refreshSnapshot(LauncherSnapshot& out) const {
    out.phase = phase.load(std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(mutex_);
    out.statusText = statusText_;
    out.installedVersion = installedVersion_;
    if (out.newsRevision != newsRevision_) {
        // The list only grows: copy just the new lines (all of them for a
        // snapshot that came from elsewhere).
        if (out.newsItems.size() > newsItems_.size()) out.newsItems.clear();
        out.newsItems.insert(out.newsItems.end(), newsItems_.begin() + static_cast<std::ptrdiff_t>(out.newsItems.size()),
                             newsItems_.end());
        out.newsRevision = newsRevision_;
    }
}

}  // namespace starfell
