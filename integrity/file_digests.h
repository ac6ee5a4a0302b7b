// Digests of a list of files worked out ahead of the caller on a few threads,
// so a check uses every core while it still handles the files in list order.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace starfell {

class FileDigests {
public:
    // An empty path is not read (its digest is never asked for).
    explicit FileDigests(std::vector<std::wstring> paths);
    // Lets the threads finish the file at hand, starting no other.
    ~FileDigests();
    FileDigests(const FileDigests&) = delete;
    FileDigests& operator=(const FileDigests&) = delete;

    // fileMd5 of the index-th path as it was when read; waits for it.
    std::string take(std::size_t index);

private:
    void work();

    std::vector<std::wstring> paths_;
    std::vector<std::optional<std::string>> digests_;
    std::size_t next_ = 0;
    bool stopping_ = false;
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<std::thread> threads_;
};

}  // namespace starfell
