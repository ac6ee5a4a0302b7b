// Making binary deltas: each chunk of the new file is compressed with zstd,
// long-distance matching on, against the old bytes around the same place.
#include "server/delta_maker.h"

#include <sodium.h>
#include <zstd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "update/delta_format.h"

namespace starfell::server {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool readAt(std::FILE* file, std::uint64_t offset, std::vector<unsigned char>& buffer) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 &&
           std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size();
}

std::uint64_t sizeOf(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) return 0;
    const off_t size = ftello(file);
    return size < 0 ? 0 : static_cast<std::uint64_t>(size);
}

// Level 3 with long-distance matching: on data that barely compresses (most
// game packages) higher levels make the same delta at half the speed.
constexpr int kLevel = 3;

}  // namespace

std::optional<std::uint64_t> makeDelta(const std::string& oldFile, const std::string& newFile,
                                       const std::string& deltaFile, std::string& error) {
    File base(std::fopen(oldFile.c_str(), "rb")), target(std::fopen(newFile.c_str(), "rb"));
    File out(std::fopen(deltaFile.c_str(), "wb"));
    if (!base || !target || !out) {
        error = "cannot open " + (!base ? oldFile : !target ? newFile : deltaFile);
        return std::nullopt;
    }
    const std::uint64_t baseSize = sizeOf(base.get()), resultSize = sizeOf(target.get());
    std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    std::vector<unsigned char> reference, chunk, frame(ZSTD_compressBound(delta::kChunkBytes));
    std::uint64_t written = 0;
    for (std::uint64_t offset = 0; offset < resultSize; offset += chunk.size()) {
        delta::ChunkHeader header;
        delta::referenceFor(offset, resultSize, baseSize, header.referenceOffset, header.referenceLength);
        reference.resize(header.referenceLength);
        chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(delta::kChunkBytes, resultSize - offset)));
        if (!readAt(base.get(), header.referenceOffset, reference) || !readAt(target.get(), offset, chunk)) {
            error = "cannot read " + oldFile + " or " + newFile;
            return std::nullopt;
        }
        ZSTD_CCtx_reset(context.get(), ZSTD_reset_session_and_parameters);
        ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, kLevel);
        ZSTD_CCtx_setParameter(context.get(), ZSTD_c_enableLongDistanceMatching, 1);
        ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, delta::kWindowLog);
        ZSTD_CCtx_setParameter(context.get(), ZSTD_c_contentSizeFlag, 1);
        ZSTD_CCtx_refPrefix(context.get(), reference.data(), reference.size());
        const std::size_t frameSize =
            ZSTD_compress2(context.get(), frame.data(), frame.size(), chunk.data(), chunk.size());
        if (ZSTD_isError(frameSize)) {
            error = std::string("zstd: ") + ZSTD_getErrorName(frameSize);
            return std::nullopt;
        }
        header.resultLength = static_cast<std::uint32_t>(chunk.size());
        header.frameLength = static_cast<std::uint32_t>(frameSize);
        unsigned char headerBytes[delta::kChunkHeaderBytes];
        delta::encodeChunkHeader(header, headerBytes);
        if (std::fwrite(headerBytes, 1, sizeof headerBytes, out.get()) != sizeof headerBytes ||
            std::fwrite(frame.data(), 1, frameSize, out.get()) != frameSize) {
            error = "cannot write " + deltaFile;
            return std::nullopt;
        }
        written += sizeof headerBytes + frameSize;
    }
    if (std::fflush(out.get()) != 0) {
        error = "cannot write " + deltaFile;
        return std::nullopt;
    }
    return written;
}

std::string blake2bOfFile(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return {};
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, delta::kDigestBytes);
    std::vector<unsigned char> buffer(1 << 20);
    std::size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        crypto_generichash_update(&state, buffer.data(), got);
    if (std::ferror(file.get())) return {};
    unsigned char digest[delta::kDigestBytes];
    crypto_generichash_final(&state, digest, sizeof digest);
    char text[2 * delta::kDigestBytes + 1];
    sodium_bin2hex(text, sizeof text, digest, sizeof digest);
    return text;
}

}  // namespace starfell::server
