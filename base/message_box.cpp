// Boxes asked for while the launcher's window is being made wait for it.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/message_box.h"

namespace starfell {

namespace {

std::mutex mutex;
std::condition_variable windowShown;
bool windowComing = false;
bool shown = false;
std::thread::id windowThread;

// Long enough for any start; a window that never comes must not hold a box for good.
constexpr std::chrono::seconds kLongestWait{30};

}  // namespace

void messageBoxWindowComing() {
    std::lock_guard<std::mutex> lock(mutex);
    windowComing = true;
    windowThread = std::this_thread::get_id();
}

void messageBoxWindowShown() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        shown = true;
    }
    windowShown.notify_all();
}

void waitForTheWindowBeforeABox() {
    std::unique_lock<std::mutex> lock(mutex);
    if (!windowComing || shown || std::this_thread::get_id() == windowThread) return;
    windowShown.wait_for(lock, kLongestWait, [] { return shown; });
}

}  // namespace starfell
