// Binary deltas of a patch archive: checking, applying and falling back to the
// whole file, with at most one chunk and its reference in memory.
#include "update/delta_apply.h"

#include <sodium.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/file_utils.h"
#include "base/text_utils.h"
#include "update/archive_files.h"
#include "update/archive_paths.h"
#include "update/archive_view.h"
#include "update/delta_format.h"
#include "update/patches.h"

namespace starfell::delta {

namespace {

constexpr char kPartialSuffix[] = ".starfell-partial";

struct IndexLine {
    std::string path, baseDigest, resultDigest;
    std::uint64_t size = 0;
};

char lowered(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

class Digest {
public:
    Digest() { crypto_generichash_init(&state_, nullptr, 0, kDigestBytes); }
    void update(const void* data, std::size_t size) {
        crypto_generichash_update(&state_, static_cast<const unsigned char*>(data), size);
    }
    std::string hex() {
        unsigned char digest[kDigestBytes];
        crypto_generichash_final(&state_, digest, sizeof digest);
        char text[2 * kDigestBytes + 1];
        sodium_bin2hex(text, sizeof text, digest, sizeof digest);
        return text;
    }

private:
    crypto_generichash_state state_;
};

bool isDigestText(const std::string& text) {
    if (text.size() != 2 * kDigestBytes) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// The index: false (with a diagnostic) when it is too large or any line is malformed.
bool readIndex(mz_zip_archive& zip, mz_uint entry, std::vector<IndexLine>& lines) {
    mz_zip_archive_file_stat stat;
    if (!mz_zip_reader_file_stat(&zip, entry, &stat) || stat.m_uncomp_size > kIndexMaximumBytes) {
        writeDiagnostic("Delta index missing or too large");
        return false;
    }
    std::string text(static_cast<std::size_t>(stat.m_uncomp_size), '\0');
    if (!mz_zip_reader_extract_to_mem(&zip, entry, &text[0], text.size(), 0) ||
        entryCrc(text.data(), text.size()) != stat.m_crc32) {
        writeDiagnostic("Delta index cannot be read");
        return false;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        std::vector<std::string> fields;
        for (std::size_t at = 0;;) {
            const std::size_t tab = line.find('\t', at);
            fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
            if (tab == std::string::npos) break;
            at = tab + 1;
        }
        IndexLine parsed;
        bool good = fields.size() == 4 && isDigestText(fields[1]) && isDigestText(fields[2]) && !fields[3].empty() &&
                    fields[3].size() <= 12;
        for (char c : good ? fields[3] : std::string()) good = good && c >= '0' && c <= '9';
        if (good) {
            parsed = {fields[0], fields[1], fields[2], std::stoull(fields[3])};
            good = parsed.size <= kMaximumExtractedBytes;
        }
        if (!good) {
            writeDiagnostic("Bad delta index line: " + line);
            return false;
        }
        lines.push_back(parsed);
    }
    return true;
}

// Reads a delta entry in order, in pieces, never past its declared size; its
// end is only reached when what was read matches the entry's CRC.
class EntryReader {
public:
    EntryReader(mz_zip_archive& zip, mz_uint entry) : state_(mz_zip_reader_extract_iter_new(&zip, entry, 0)) {}
    ~EntryReader() {
        if (state_) mz_zip_reader_extract_iter_free(state_);
    }
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    bool read(void* buffer, std::size_t size) {
        if (!state_ || (size != 0 && mz_zip_reader_extract_iter_read(state_, buffer, size) != size)) return false;
        crc_ = entryCrc(buffer, size, crc_);
        return true;
    }
    bool atEnd() {
        unsigned char extra;
        return state_ && mz_zip_reader_extract_iter_read(state_, &extra, 1) == 0 && crc_ == state_->file_stat.m_crc32;
    }

private:
    mz_zip_reader_extract_iter_state* state_;
    std::uint32_t crc_ = 0;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Puts the old bytes `header` refers to in `reference`, which holds those of
// the chunk before from `heldOffset`: neighbouring chunks' references overlap,
// and the bytes already held are moved rather than read again.
bool loadReference(std::FILE* base, const ChunkHeader& header, std::vector<unsigned char>& reference,
                   std::uint64_t& heldOffset) {
    std::size_t kept = 0;
    const std::uint64_t start = header.referenceOffset;
    if (start >= heldOffset && start - heldOffset < reference.size()) {
        const std::size_t skip = static_cast<std::size_t>(start - heldOffset);
        kept = std::min<std::size_t>(reference.size() - skip, header.referenceLength);
        std::memmove(reference.data(), reference.data() + skip, kept);
    }
    reference.resize(header.referenceLength);
    heldOffset = start;
    const std::size_t rest = reference.size() - kept;
    if (archive_files::readAt(base, start + kept, reference.data() + kept, rest) == rest) return true;
    reference.clear();  // nothing held that a later chunk could trust
    return false;
}

// Writes the result of the delta entry `entry` over the base `basePath` to
// `partial`; true when it was whole and its digest and size are the index's.
bool writeDeltaResult(mz_zip_archive& zip, mz_uint entry, const std::string& basePath, const std::string& partial,
                      const IndexLine& line, bool executable) {
    std::unique_ptr<std::FILE, FileCloser> base(archive_files::openPlainFileForReading(basePath));
    if (!base) return false;
    const std::uint64_t baseSize = archive_files::fileLength(base.get());
    EntryReader delta(zip, entry);
    std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    archive_files::OutputFile output;
    if (!context || !output.create(partial, executable)) return false;

    std::vector<unsigned char> reference, frame, result;
    std::uint64_t referenceOffset = 0;
    Digest digest;
    std::uint64_t produced = 0;
    bool good = true;
    while (good && produced < line.size) {
        unsigned char headerBytes[kChunkHeaderBytes];
        if (!delta.read(headerBytes, sizeof headerBytes)) break;
        const ChunkHeader header = decodeChunkHeader(headerBytes);
        good = header.referenceLength <= kMaximumReferenceBytes && header.referenceOffset <= baseSize &&
               header.referenceLength <= baseSize - header.referenceOffset && header.resultLength > 0 &&
               header.resultLength <= kChunkBytes && header.resultLength <= line.size - produced &&
               header.frameLength <= ZSTD_compressBound(kChunkBytes);
        if (!good) break;
        frame.resize(header.frameLength);
        result.resize(header.resultLength);
        good = loadReference(base.get(), header, reference, referenceOffset) && delta.read(frame.data(), frame.size());
        if (!good) break;
        // Each frame is whole and decoded in one call straight into the
        // chunk's buffer, so no window beyond the reference is allocated.
        ZSTD_DCtx_reset(context.get(), ZSTD_reset_session_only);
        ZSTD_DCtx_refPrefix(context.get(), reference.data(), reference.size());
        const std::size_t made =
            ZSTD_decompressDCtx(context.get(), result.data(), result.size(), frame.data(), frame.size());
        good = !ZSTD_isError(made) && made == result.size() && output.write(result.data(), result.size());
        if (!good) break;
        digest.update(result.data(), result.size());
        produced += result.size();
    }
    good = good && produced == line.size && delta.atEnd();
    good = output.close() && good;
    good = good && digest.hex() == line.resultDigest;
    if (!good) archive_files::removeFile(partial);
    return good;
}

// True for an entry made on a Unix system whose mode lets anybody run it, as
// for whole entries: a patched native program must still start.
bool isExecutable(mz_zip_archive& zip, mz_uint entry) {
    mz_zip_archive_file_stat stat;
    constexpr unsigned kMadeOnUnix = 3;
    return mz_zip_reader_file_stat(&zip, entry, &stat) && (stat.m_version_made_by >> 8) == kMadeOnUnix &&
           ((stat.m_external_attr >> 16) & 0111) != 0;
}

bool applyFile(mz_zip_archive& zip, const std::string& folder, const IndexLine& line,
               const WholeFileFetch& fetchWhole) {
    std::vector<std::string> components;
    if (!splitEntryName(line.path, false, components)) {
        writeDiagnostic("Refused unsafe entry: " + line.path);
        return false;
    }
    // Folders are made as for whole entries, never passing through a link.
    std::string path = folder;
    for (std::size_t i = 0; i < components.size(); ++i) {
        path += components[i];
        if (archive_files::isLink(path)) {
            writeDiagnostic("Refused unsafe entry: " + line.path);
            return false;
        }
        if (i + 1 < components.size()) {
            archive_files::makeDirectory(path);
            path += fs::kSeparator;
        }
    }
    const std::string partial = path + kPartialSuffix;
    archive_files::removeFile(partial);  // left over from an interrupted run
    const std::string installed = fileDigest(path);
    if (installed == line.resultDigest) return true;

    bool written = false;
    if (installed == line.baseDigest) {
        const int entry = mz_zip_reader_locate_file(&zip, (kReservedFolder + line.path).c_str(), nullptr, 0);
        written = entry >= 0 && writeDeltaResult(zip, static_cast<mz_uint>(entry), path, partial, line,
                                                 isExecutable(zip, static_cast<mz_uint>(entry)));
        if (!written) writeDiagnostic("Delta failed, fetching the whole file: " + path);
    } else {
        writeDiagnostic("File differs from the delta's base, fetching the whole file: " + path);
    }
    if (!written) {
        written = fetchWhole && fetchWhole(line.path, partial) && fileDigest(partial) == line.resultDigest;
        if (!written) {
            archive_files::removeFile(partial);
            writeDiagnostic("Failed to extract: " + path);
            return false;
        }
    }
    if (!replaceFileKeepingAttributes(partial, path)) return false;
    fs::flushFolder(folderOfPath(utf8ToWide(path)));
    return true;
}

}  // namespace

bool isReservedEntry(const char* name) {
    for (const char* expected = kReservedFolder; *expected; ++expected, ++name) {
        const char c = *name == '\\' ? '/' : lowered(*name);
        if (c != *expected) return false;
    }
    return true;
}

std::string fileDigest(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(archive_files::openPlainFileForReading(path));
    if (!file) return {};
    Digest digest;
    std::vector<unsigned char> buffer(1 << 20);
    for (std::uint64_t offset = 0;;) {
        const std::size_t got = archive_files::readAt(file.get(), offset, buffer.data(), buffer.size());
        if (got == 0) break;
        digest.update(buffer.data(), got);
        offset += got;
    }
    return std::ferror(file.get()) ? std::string() : digest.hex();
}

bool applyDeltas(mz_zip_archive& zip, const std::string& folder, const WholeFileFetch& fetchWhole) {
    const int index = mz_zip_reader_locate_file(&zip, kIndexName, nullptr, 0);
    if (index < 0) return true;
    std::vector<IndexLine> lines;
    if (!readIndex(zip, static_cast<mz_uint>(index), lines)) return false;
    bool applied = true;
    for (const IndexLine& line : lines)
        if (!applyFile(zip, folder, line, fetchWhole)) applied = false;
    return applied;
}

}  // namespace starfell::delta
