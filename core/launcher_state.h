// The one record through which the receive thread and the file worker report to the UI thread.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace starfell {

enum class LauncherPhase : std::int32_t {
    Idle = 0,
    Greeted = 1,
    SelfUpdating = 2,
    Patching = 3,
    Verifying = 4,
    Ready = 5,
};

// What the UI thread draws from, copied once per frame. The news list is only
// copied again when it has grown, so a long list costs nothing per frame.
// Most news lines kept. The side panel shows about ten at a time and every kept
// line costs a box on each frame, so a server that floods news cannot grow the
// list (or the frame) without bound; lines beyond this are not shown.
constexpr std::size_t kMaximumNewsItems = 500;

struct LauncherSnapshot {
    LauncherPhase phase = LauncherPhase::Idle;
    std::string statusText;
    std::string installedVersion;
    std::vector<std::string> newsItems;
    std::uint64_t newsRevision = 0;
};

class LauncherState {
public:
    // Integers are single words shared without a lock.
    std::atomic<std::intptr_t> serverSocket{-1};  // -1: no socket (INVALID_SOCKET on Windows)
    std::atomic<std::int32_t> authorised{0};
    std::atomic<LauncherPhase> phase{LauncherPhase::Idle};
    std::atomic<std::int32_t> sendFailures{0};

    // Written once by start-up before any other thread exists.
    std::string launcherDigest;

    // Texts and the news list sit behind one mutex, held only for a copy. Every
    // change of the status text is also a line of the player's log.
    void setStatusText(std::string text);
    std::string statusText() const;
    // A failure the player must still see once the run settles: shown now, and
    // shown instead of the texts that end a step ("Updated, ...", "Ready.")
    // for the rest of the run. The latest noted failure is the one kept.
    void noteLastingFailure(std::string text);
    // A patch that did not apply: lasting like the above, but only until a
    // later patch list of the run reaches its number, and shown before a
    // lasting failure of another kind. The latest noted one is kept.
    void notePatchFailure(std::string text, std::int32_t patchNumber);
    // A patch list ended cleanly with the installed version at `installedNumber`:
    // a failed patch at or below it no longer holds the game folder back.
    void notePatchesReached(std::int32_t installedNumber);
    // Sets the text that ends a step, or the lasting failure when there is one.
    void settleStatusText(std::string text);
    void setInstalledVersion(std::string version);
    std::string installedVersion() const;
    // Appends a line unless kMaximumNewsItems are already kept; false when dropped.
    bool appendNews(std::string line);
    std::vector<std::string> newsItems() const;

    // Back to the values of a fresh start (tests run many launcher runs in one process).
    void reset();

    // Counts changes of the texts and the news list, so the UI thread can tell
    // whether they changed since its last frame without copying them. The
    // phase is not counted: it is read on its own.
    std::uint64_t revision() const;

    // Refreshes `out` with the current values; the news list is copied only
    // when it changed since `out` was last refreshed.
    void refreshSnapshot(LauncherSnapshot& out) const;

private:
    // Shows a lasting failure now; a patch failure when `failedPatch` is given.
    void noteFailure(std::string text, std::optional<std::int32_t> failedPatch);

    mutable std::mutex mutex_;
    std::string statusText_ = "Checking for new update..";
    std::string lastingFailure_;
    std::string patchFailure_;
    std::int32_t failedPatch_ = 0;
    std::string installedVersion_;
    std::vector<std::string> newsItems_;
    std::uint64_t newsRevision_ = 0;
    std::uint64_t revision_ = 0;
};

// The process-wide instance. It is never destroyed: the process may end
// through exit() on one thread while detached threads still use it.
extern LauncherState& launcherState;

}  // namespace starfell
