#include "core/file_work.h"

#include <string>

#include "base/diagnostics.h"

namespace starfell {

bool runAtOnce(Work work) {
    work();
    return true;
}

FileWorkQueue::FileWorkQueue(std::size_t capacity) : capacity_(capacity), worker_([this] { run(); }) {}

FileWorkQueue::~FileWorkQueue() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        waiting_.clear();
    }
    changed_.notify_all();
    worker_.join();
}

bool FileWorkQueue::post(Work work) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_.size() >= capacity_) {
            if (!dropping_) writeDiagnostic("Packet dropped: work still waiting: " + std::to_string(capacity_));
            dropping_ = true;
            return false;
        }
        dropping_ = false;
        waiting_.push_back(std::move(work));
    }
    changed_.notify_all();
    return true;
}

void FileWorkQueue::waitUntilIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return waiting_.empty() && !busy_; });
}

void FileWorkQueue::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) return;
        Work work = std::move(waiting_.front());
        waiting_.pop_front();
        busy_ = true;
        lock.unlock();
        work();
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

FileWorkQueue& fileWorker() {
    // Never destroyed: a detached end of the process must not join a worker
    // that is still inside a download.
    static FileWorkQueue* const worker = new FileWorkQueue();
    return *worker;
}

}  // namespace starfell
