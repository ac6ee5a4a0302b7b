// The one worker that runs everything which changes files (the self-update,
// patch lists, file checks), in the order the server sent it. The receive
// thread only reads and posts, so a patch list and a file check that arrive
// back to back are handled one after the other, never side by side.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace starfell {

using Work = std::function<void()>;

// How the dispatch hands over work: the launcher posts to its worker; tests
// and the fuzzer run it at once on their own thread.
using PostWork = std::function<bool(Work)>;
bool runAtOnce(Work work);

// Work that may wait behind the running item. A server that sends lists
// faster than they finish has the surplus dropped, not queued without end.
constexpr std::size_t kMaximumWaitingWork = 64;

class FileWorkQueue {
public:
    explicit FileWorkQueue(std::size_t capacity = kMaximumWaitingWork);
    ~FileWorkQueue();  // finishes the running item, drops the waiting ones
    FileWorkQueue(const FileWorkQueue&) = delete;
    FileWorkQueue& operator=(const FileWorkQueue&) = delete;

    // False (with one diagnostic per run of drops) when `capacity` items already wait.
    bool post(Work work);
    // Blocks until nothing runs and nothing waits.
    void waitUntilIdle();

private:
    void run();

    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Work> waiting_;
    bool busy_ = false;
    bool stopping_ = false;
    bool dropping_ = false;
    std::thread worker_;  // last: started once the members above exist
};

// The launcher's own worker, started on first use and never stopped: the
// process ends through its own exits.
FileWorkQueue& fileWorker();

}  // namespace starfell
