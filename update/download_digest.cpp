// The growing file's digest: a thread that reads back each final piece and
// feeds it to libsodium's BLAKE2b.
#include "update/download_digest.h"

#include <sodium.h>

#include <algorithm>
#include <vector>

#include "base/text_utils.h"
#include "update/archive_files.h"

namespace starfell {

namespace {

// Large reads keep the thread's system calls few; small enough to stay in cache.
constexpr std::size_t kReadPiece = 1024 * 1024;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

struct GrowingFileDigest::State {
    crypto_generichash_state hash;  // asks for 64-byte alignment, which `new` of C++17 honours
};

GrowingFileDigest::GrowingFileDigest(const std::wstring& path)
    : path_(wideToUtf8(path)), state_(std::make_unique<State>()) {
    thread_ = std::thread([this] { run(); });
}

GrowingFileDigest::~GrowingFileDigest() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void GrowingFileDigest::startOver() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
    final_ = hashed_ = 0;
    failed_ = false;
    wake_.notify_all();
}

void GrowingFileDigest::finalUpTo(std::uint64_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (size <= final_) return;
    final_ = size;
    wake_.notify_all();
}

std::optional<FileDigest> GrowingFileDigest::digestOf(std::uint64_t size) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (size != final_) return std::nullopt;
    // A state left from before startOver() must never stand for the new file.
    progress_.wait(lock, [&] { return ready_ == generation_ && (failed_ || hashed_ == size); });
    if (failed_) return std::nullopt;
    // The thread is idle now (nothing final is left to hash): its state is
    // finished on a copy, so more bytes could still follow.
    State finished = *state_;
    FileDigest digest;
    if (crypto_generichash_final(&finished.hash, digest.data(), digest.size()) != 0) return std::nullopt;
    return digest;
}

void GrowingFileDigest::run() {
    std::vector<unsigned char> piece(kReadPiece);
    std::unique_ptr<std::FILE, FileCloser> file;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (ready_ != generation_) {
            ready_ = generation_;
            file.reset();
            failed_ = sodium_init() < 0 ||
                      crypto_generichash_init(&state_->hash, nullptr, 0, std::tuple_size<FileDigest>::value) != 0;
            progress_.notify_all();
        }
        if (failed_ || hashed_ >= final_) {
            // Let the file go while idle: Windows neither renames nor removes
            // a file that is held open, and the finished file is renamed.
            file.reset();
            wake_.wait(lock);
            continue;
        }
        const std::uint64_t offset = hashed_;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(final_ - offset, piece.size()));
        lock.unlock();
        if (!file) file.reset(archive_files::openForReading(path_));
        const std::size_t got = file ? archive_files::readAt(file.get(), offset, piece.data(), want) : 0;
        // Bytes read for a file that has since started over are dropped with
        // the state they went into.
        if (got == want) crypto_generichash_update(&state_->hash, piece.data(), got);
        lock.lock();
        if (ready_ != generation_) continue;
        if (got == want) hashed_ += got;
        else failed_ = true;
        progress_.notify_all();
    }
}

}  // namespace starfell
