// A small locked queue that hands window input from the thread that owns the
// window (the main thread) to the UI thread, which replays it into the GUI.
#pragma once
#include <cstddef>
#include <mutex>
#include <vector>

namespace starfell {

template <class T>
class LockedQueue {
public:
    explicit LockedQueue(std::size_t capacity) : capacity_(capacity) {}

    // Returns false and drops `item` when the queue is full, so a UI thread that
    // has stopped draining cannot make it grow without bound.
    bool push(const T& item) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (items_.size() >= capacity_) return false;
        items_.push_back(item);
        return true;
    }

    // Moves every queued item, oldest first, into `out` (which is cleared first).
    void drain(std::vector<T>& out) {
        out.clear();
        std::lock_guard<std::mutex> lock(mutex_);
        out.swap(items_);
    }

private:
    std::mutex mutex_;
    std::vector<T> items_;
    std::size_t capacity_;
};

}  // namespace starfell
