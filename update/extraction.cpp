// Unpacking archive entries durably without one disk flush per file (see extraction.h).
#include "update/extraction.h"

#include <miniz.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/file_utils.h"
#include "base/text_utils.h"
#include "update/archive_files.h"
#include "update/archive_paths.h"
#include "update/archive_view.h"
#include "update/patches.h"

namespace starfell {

namespace {

// Appended to an entry's file name while its new content waits to be renamed.
constexpr char kPartialSuffix[] = ".starfell-partial";

// Inflated bytes travel to the writer in blocks of this size, and no more
// than kMostQueuedBytes of them wait at once: the memory an extraction needs
// stays small whatever the archive holds.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;
constexpr std::size_t kMostQueuedBytes = 8 * kBlockSize;

// A batch is flushed once it holds this many files or bytes. Its files stay
// open until then, so the count also bounds the handles held.
constexpr std::size_t kBatchFiles = 256;
constexpr std::uint64_t kBatchBytes = std::uint64_t{256} << 20;
// Files of one batch flushed at the same time: the file system can commit
// their metadata together rather than one after another.
constexpr unsigned kFlushThreads = 4;

// True for an entry made on a Unix system whose mode gives anybody the right
// to run it: a patched native program must still start.
bool isExecutableEntry(const mz_zip_archive_file_stat& stat) {
    constexpr unsigned kMadeOnUnix = 3;
    return (stat.m_version_made_by >> 8) == kMadeOnUnix && ((stat.m_external_attr >> 16) & 0111) != 0;
}

// The first `count` components joined by the separator: a folder below
// the destination ("" for the destination itself).
std::string joined(const std::vector<std::string>& components, size_t count) {
    std::string folder;
    for (size_t i = 0; i < count; ++i) folder += (i ? std::string(1, fs::kSeparator) : "") + components[i];
    return folder;
}

// One piece of an entry on its way to the writer thread.
struct Piece {
    enum Kind { Begin, Bytes, End, Drain } kind = Bytes;
    std::string target;       // Begin: the game file the entry replaces
    bool executable = false;  // Begin
    bool complete = false;    // End: every byte of the entry was produced
    std::vector<char> bytes;  // Bytes
};

// A written file waiting for its batch to be flushed and renamed.
struct WrittenFile {
    std::unique_ptr<archive_files::OutputFile> file;
    std::string target;
};

}  // namespace

// Writes entries on a thread of its own and hands full batches to a flushing
// thread, which flushes each batch, then renames its files in entry order.
class EntryWriter {
public:
    EntryWriter() : writer_([this] { writeLoop(); }), flusher_([this] { flushLoop(); }) {}

    ~EntryWriter() {
        drain();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        writer_.join();
        flusher_.join();
    }

    // `size`: the bytes the entry announces, so a small entry's block is small.
    void begin(const std::string& target, bool executable, std::uint64_t size) {
        unannounced_ = size;
        Piece piece;
        piece.kind = Piece::Begin;
        piece.target = target;
        piece.executable = executable;
        push(std::move(piece));
    }

    void append(const void* data, std::size_t size) {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            if (block_.capacity() == 0) {
                const std::uint64_t wanted = std::max<std::uint64_t>(unannounced_, size);
                block_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, wanted)));
            }
            const std::size_t part = std::min(size, kBlockSize - block_.size());
            unannounced_ -= std::min<std::uint64_t>(unannounced_, part);
            block_.insert(block_.end(), bytes, bytes + part);
            bytes += part;
            size -= part;
            if (block_.size() == kBlockSize) pushBlock();
        }
    }

    void end(bool complete) {
        pushBlock();
        Piece piece;
        piece.kind = Piece::End;
        piece.complete = complete;
        push(std::move(piece));
    }

    // Waits until everything handed over is renamed into place; false when
    // anything failed since the last call.
    bool drain() {
        Piece piece;
        piece.kind = Piece::Drain;
        std::unique_lock<std::mutex> lock(mutex_);
        const std::uint64_t ticket = ++drainsAsked_;
        pieces_.push_back(std::move(piece));
        changed_.notify_all();
        changed_.wait(lock, [&] { return drainsDone_ >= ticket; });
        const bool ok = !failed_;
        failed_ = false;
        return ok;
    }

private:
    void pushBlock() {
        if (block_.empty()) return;
        Piece piece;
        piece.bytes = std::move(block_);
        block_ = std::vector<char>();
        push(std::move(piece));
    }

    void push(Piece piece) {
        std::unique_lock<std::mutex> lock(mutex_);
        // Counted by what the blocks hold in memory, not by their contents.
        const std::size_t held = piece.bytes.capacity();
        changed_.wait(lock, [&] { return queuedBytes_ + held <= kMostQueuedBytes || queuedBytes_ == 0; });
        queuedBytes_ += held;
        pieces_.push_back(std::move(piece));
        changed_.notify_all();
    }

    void fail(const std::string& target) {
        writeDiagnostic("Failed to extract: " + target);
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
    }

    // The writer thread: creates each entry's temporary file, writes its
    // blocks, and gathers finished files into batches.
    void writeLoop() {
        std::unique_ptr<archive_files::OutputFile> file;
        std::string target;
        bool writing = false;  // the current entry has had no failure yet
        std::vector<WrittenFile> batch;
        std::uint64_t batchBytes = 0, entryBytes = 0;
        for (;;) {
            Piece piece;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return !pieces_.empty() || stopping_; });
                if (pieces_.empty()) return;
                piece = std::move(pieces_.front());
                pieces_.pop_front();
                queuedBytes_ -= piece.bytes.capacity();
            }
            changed_.notify_all();
            switch (piece.kind) {
                case Piece::Begin: {
                    target = piece.target;
                    const std::string partial = target + kPartialSuffix;
                    file = std::make_unique<archive_files::OutputFile>();
                    // A name taken is left over from an interrupted run. Asked
                    // only then: each look at a missing name costs a folder scan
                    // on file systems that ignore case.
                    writing = file->create(partial, piece.executable) ||
                              (archive_files::removeFile(partial) == fs::kSuccess &&
                               file->create(partial, piece.executable));
                    entryBytes = 0;
                    break;
                }
                case Piece::Bytes:
                    if (writing) writing = file->write(piece.bytes.data(), piece.bytes.size());
                    entryBytes += piece.bytes.size();
                    break;
                case Piece::End:
                    if (writing && piece.complete) {
                        file->startWriteBack();
                        batch.push_back({std::move(file), target});
                        batchBytes += entryBytes;
                    } else {
                        // A file that could not be written completely is
                        // removed rather than left half-written.
                        if (file) file->close();
                        archive_files::removeFile(target + kPartialSuffix);
                        fail(target);
                    }
                    file.reset();
                    if (batch.size() >= kBatchFiles || batchBytes >= kBatchBytes) {
                        handOver(std::move(batch), false);
                        batch.clear();
                        batchBytes = 0;
                    }
                    break;
                case Piece::Drain:
                    handOver(std::move(batch), true);
                    batch.clear();
                    batchBytes = 0;
                    break;
            }
        }
    }

    // Gives a batch to the flushing thread once it has taken the one before,
    // so at most two batches hold open files.
    void handOver(std::vector<WrittenFile> batch, bool drain) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !batchWaiting_; });
        waitingBatch_ = std::move(batch);
        waitingDrain_ = drain;
        batchWaiting_ = true;
        changed_.notify_all();
    }

    void flushLoop() {
        for (;;) {
            std::vector<WrittenFile> batch;
            bool drain = false;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return batchWaiting_ || stopping_; });
                if (!batchWaiting_) return;
                batch = std::move(waitingBatch_);
                drain = waitingDrain_;
                batchWaiting_ = false;
            }
            changed_.notify_all();
            flushAndRename(batch);
            if (drain) {
                std::lock_guard<std::mutex> lock(mutex_);
                ++drainsDone_;
                changed_.notify_all();
            }
        }
    }

    // Every file of the batch is flushed before the first rename, and the
    // renames follow entry order: a game file is only ever replaced by bytes
    // already on the disk.
    void flushAndRename(std::vector<WrittenFile>& batch) {
        if (batch.empty()) return;
        std::vector<char> flushed(batch.size(), 0);
        auto flushEvery = [&](std::size_t first, std::size_t step) {
            for (std::size_t i = first; i < batch.size(); i += step) flushed[i] = batch[i].file->flush();
        };
        const unsigned helpers = static_cast<unsigned>(std::min<std::size_t>(kFlushThreads, batch.size())) - 1;
        std::vector<std::thread> threads;
        for (unsigned i = 1; i <= helpers; ++i) threads.emplace_back(flushEvery, i, helpers + 1);
        flushEvery(0, helpers + 1);
        for (std::thread& thread : threads) thread.join();

        for (std::size_t i = 0; i < batch.size(); ++i) {
            const std::string partial = batch[i].target + kPartialSuffix;
            const bool closed = batch[i].file->close();
            if (!flushed[i] || !closed) {
                archive_files::removeFile(partial);
                fail(batch[i].target);
            } else if (!replaceFileKeepingAttributes(partial, batch[i].target, true)) {
                std::lock_guard<std::mutex> lock(mutex_);
                failed_ = true;
            }
        }
    }

    // The calling thread's side: the block being filled and what is left of
    // the entry's announced size.
    std::vector<char> block_;
    std::uint64_t unannounced_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Piece> pieces_;
    std::size_t queuedBytes_ = 0;
    std::vector<WrittenFile> waitingBatch_;
    bool batchWaiting_ = false, waitingDrain_ = false;
    std::uint64_t drainsAsked_ = 0, drainsDone_ = 0;
    bool failed_ = false, stopping_ = false;
    std::thread writer_, flusher_;
};

namespace {

// Where an entry's inflated bytes go, held to the entry's declared size and
// to what is left of the archive's allowance, with the CRC of what came.
struct ContentSink {
    EntryWriter& writer;
    std::uint64_t limit = 0;
    std::uint64_t produced = 0;
    std::uint32_t crc = 0;
};

size_t sinkBytes(void* opaque, mz_uint64, const void* data, size_t size) {
    auto* sink = static_cast<ContentSink*>(opaque);
    if (size > sink->limit - sink->produced) return 0;  // more than announced: stop
    sink->writer.append(data, size);
    sink->crc = entryCrc(data, size, sink->crc);
    sink->produced += size;
    return size;
}

}  // namespace

Extraction::Extraction(mz_zip_archive& zip, std::string folder)
    : zip_(zip), folder_(std::move(folder)), writer_(std::make_unique<EntryWriter>()) {}

Extraction::~Extraction() = default;

bool Extraction::extractEntry(unsigned index) {
    mz_zip_archive_file_stat stat;
    if (!mz_zip_reader_file_stat(&zip_, index, &stat)) {
        writeDiagnostic("Failed to get file stat at index: " + std::to_string(index));
        return false;
    }
    const bool isDirectory = stat.m_is_directory != 0;
    std::vector<std::string> components;
    if (!splitEntryName(stat.m_filename, isDirectory, components)) {
        writeDiagnostic(std::string("Refused unsafe entry: ") + stat.m_filename);
        return false;
    }
    useFirstSpelling(components);

    // Create the folders level by level, never passing through a link. A
    // folder already made or checked for an earlier entry is not asked again.
    std::string path = folder_;
    const size_t folders = isDirectory ? components.size() : components.size() - 1;
    for (size_t i = 0; i < folders; ++i) {
        path += components[i];
        if (knownFolders_.count(path)) {
            path += fs::kSeparator;
            continue;
        }
        if (archive_files::isLink(path)) {
            writeDiagnostic(std::string("Refused unsafe entry: ") + stat.m_filename);
            return false;
        }
        // A new folder is a new name in the folder above it.
        if (archive_files::makeDirectory(path) == fs::kSuccess) touchedFolders_.insert(folder_ + joined(components, i));
        knownFolders_.insert(path);
        path += fs::kSeparator;
    }
    if (isDirectory) return true;
    path += components.back();
    if (archive_files::isLink(path)) {
        writeDiagnostic(std::string("Refused unsafe entry: ") + stat.m_filename);
        return false;
    }
    // A later entry for the same file shares its temporary name: the earlier
    // one is put in place first, as the archive's order says.
    if (!pendingPaths_.insert(path).second) {
        if (!writer_->drain()) drainFailed_ = true;
        pendingPaths_ = {path};
    }
    touchedFolders_.insert(folder_ + joined(components, components.size() - 1));

    // The entry is written beside its file and renamed over it once flushed,
    // never deleting the old file first: the path always holds the old or the
    // whole new content, and a damaged entry or a full disk leaves it as it was.
    if (stat.m_uncomp_size > kMaximumExtractedBytes - extracted_) {
        writeDiagnostic("Failed to extract: " + path);
        return false;
    }
    writer_->begin(path, isExecutableEntry(stat), stat.m_uncomp_size);
    const bool produced = produceContent(index, stat.m_uncomp_size, stat.m_crc32);
    writer_->end(produced);
    return produced;
}

bool Extraction::produceContent(unsigned index, std::uint64_t declaredSize, std::uint32_t declaredCrc) {
    ContentSink sink{*writer_, declaredSize};
    bool produced = mz_zip_reader_extract_to_callback(&zip_, index, sinkBytes, &sink, 0) != 0;
    // An entry stored without data reports success with nothing written.
    produced = produced && sink.produced == declaredSize && sink.crc == declaredCrc;
    extracted_ += sink.produced;
    return produced;
}

bool Extraction::finish() {
    bool ok = writer_->drain() && !drainFailed_;
    drainFailed_ = false;
    pendingPaths_.clear();
    // The names of every folder this extraction changed go through to the
    // disk, so the files are there before a version file vouches for them.
    for (const std::string& folder : touchedFolders_) fs::flushFolder(utf8ToWide(folder));
    touchedFolders_.clear();
    return ok;
}

// Names that differ only by case are one file on Windows, where a later entry
// replaces an earlier one. Every platform follows that: each folder or file of
// this archive keeps the spelling of the entry that named it first, so the
// game folder ends the same everywhere.
void Extraction::useFirstSpelling(std::vector<std::string>& components) {
    std::string key;
    for (std::string& component : components) {
        for (char c : component) key.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
        const auto known = spellings_.emplace(key, component);
        if (!known.second) component = known.first->second;
        key.push_back('/');
    }
}

}  // namespace starfell
