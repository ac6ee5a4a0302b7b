// The digest a prehashed signature covers, computed while a download writes
// the file, so the signature check needs no second pass over it afterwards.
#pragma once
#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace starfell {

// BLAKE2b-512, as minisign's prehashed signatures use it.
using FileDigest = std::array<unsigned char, 64>;

// Hashes a file on a thread of its own while it grows, reading back what the
// writer has declared final: a download faster than hashing (a local store)
// does not wait for the hash, nor the check for a second read. The writer
// only ever appends after the final bytes, or calls startOver() before it
// empties the file.
class GrowingFileDigest {
public:
    explicit GrowingFileDigest(const std::wstring& path);
    ~GrowingFileDigest();
    GrowingFileDigest(const GrowingFileDigest&) = delete;
    GrowingFileDigest& operator=(const GrowingFileDigest&) = delete;

    // The file is about to be emptied and written anew.
    void startOver();
    // The file's first `size` bytes will not change any more.
    void finalUpTo(std::uint64_t size);
    // Waits until the file's first `size` bytes are hashed and gives their
    // digest; nothing when they could not be read or are not all final.
    std::optional<FileDigest> digestOf(std::uint64_t size);

private:
    struct State;
    void run();

    const std::string path_;
    std::unique_ptr<State> state_;  // touched by the hashing thread only, or while it waits
    std::mutex mutex_;
    std::condition_variable wake_, progress_;
    std::uint64_t final_ = 0, hashed_ = 0;
    // startOver() counts up `generation_`; the thread's fresh state for it sets `ready_`.
    std::uint64_t generation_ = 0, ready_ = ~0ull;
    bool failed_ = false, stopping_ = false;
    std::thread thread_;
};

}  // namespace starfell
