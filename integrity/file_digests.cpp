// Digests of listed files on a small pool of threads (see file_digests.h).
#include "integrity/file_digests.h"

#include <algorithm>

#include "integrity/file_md5.h"

namespace starfell {

namespace {
// Hashing is bound by one core per file; more threads than cores only
// compete for the disk.
constexpr unsigned kMostThreads = 4;
}  // namespace

FileDigests::FileDigests(std::vector<std::wstring> paths) : paths_(std::move(paths)), digests_(paths_.size()) {
    const unsigned cores = std::max(1u, std::min(kMostThreads, std::thread::hardware_concurrency()));
    const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(cores, paths_.size()));
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

FileDigests::~FileDigests() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    for (std::thread& thread : threads_) thread.join();
}

std::string FileDigests::take(std::size_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return digests_[index].has_value(); });
    return *digests_[index];
}

void FileDigests::work() {
    for (;;) {
        std::size_t index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            while (next_ < paths_.size() && paths_[next_].empty()) ++next_;
            if (stopping_ || next_ >= paths_.size()) return;
            index = next_++;
        }
        std::string digest = fileMd5(paths_[index]);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            digests_[index] = std::move(digest);
        }
        done_.notify_all();
    }
}

}  // namespace starfell
