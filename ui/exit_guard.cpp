// Parking of the UI thread while the process ends.
#include "ui/exit_guard.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace starfell {
namespace {

std::atomic<bool> exiting{false};
std::atomic<bool> parked{false};
std::atomic<bool> frameLoopRunning{false};
// Set once by the UI thread before frameLoopRunning; read after it.
std::thread::id frameLoopThread;

void parkUiThread() {
    exiting.store(true);
    if (!frameLoopRunning.load() || std::this_thread::get_id() == frameLoopThread) return;
    // One frame is at most a few tens of milliseconds; a thread stuck in a
    // platform call is not waited for long.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (!parked.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

void installExitGuard() { std::atexit(parkUiThread); }

void enterFrameLoop() {
    frameLoopThread = std::this_thread::get_id();
    frameLoopRunning.store(true);
}

void parkIfExiting() {
    if (!exiting.load()) return;
    parked.store(true);
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace starfell
