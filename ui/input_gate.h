// Keeps window input made while the UI thread is blocked (in a message box, a
// shell call) from being replayed into the GUI once it draws again.
#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace starfell {

// Closed by the UI thread around a call that blocks it; read by the main thread
// as it queues window input.
class InputGate {
public:
    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }

    // Input still unread by the main thread when the call returned was made
    // during it, so the gate opens only once the main thread has found its
    // messages all read at a moment after this (or after `patience`, should it
    // stop pumping).
    void open(std::chrono::milliseconds patience) {
        std::unique_lock<std::mutex> lock(mutex_);
        // The first count may belong to a pass that began before the call returned.
        const unsigned long target = allReadCount_ + 2;
        allRead_.wait_for(lock, patience, [&] { return allReadCount_ >= target; });
        closed_ = false;
    }

    // Main thread: whether a press, a key, typed text or a wheel turn may be queued now.
    bool admits() {
        std::lock_guard<std::mutex> lock(mutex_);
        return !closed_;
    }

    // Main thread: every pending window message has been read.
    void allMessagesRead() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++allReadCount_;
        }
        allRead_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable allRead_;
    unsigned long allReadCount_ = 0;
    bool closed_ = false;
};

// The launcher window's gate.
InputGate& windowInputGate();

// UI thread: runs `blockingCall` (a message box, opening a web page) and drops
// the presses, keys, typed text and wheel turns the window gets meanwhile.
// Moves, releases, focus and size changes still reach the GUI, so it never
// thinks a button is held that was let go.
void withoutWindowInput(const std::function<void()>& blockingCall);

}  // namespace starfell
