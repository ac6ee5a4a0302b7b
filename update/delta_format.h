// The layout of binary deltas inside a patch archive, shared by the patch
// maker and the launcher that applies them.
//
// A patch may carry, instead of a changed file, the bytes that turn the
// installed file into the new one. They live under a reserved folder of the
// archive that is never written into the game folder:
//   .starfell-delta/index.txt  one line a file: path, BLAKE2b-256 of the file it
//                              applies to, BLAKE2b-256 of the result, result size
//                              (tab separated, digests in lowercase hex)
//   .starfell-delta/<path>     the delta: chunk records one after another
// Each chunk record is a 20-byte header (little-endian: 8-byte offset and
// 4-byte length of the old file's bytes it refers to, 4-byte length of the
// result bytes it makes, 4-byte length of the zstd frame) and the frame, made
// with those old bytes as its reference prefix. Chunks and their references are
// small, so the apply holds a bounded amount of memory whatever the file size.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace starfell::delta {

constexpr char kReservedFolder[] = ".starfell-delta/";
constexpr char kIndexName[] = ".starfell-delta/index.txt";
constexpr std::size_t kIndexMaximumBytes = 1 << 20;

// Result bytes of one chunk, and old bytes a chunk may refer to on each side of
// its place: at most 48 MiB of the old file and 16 MiB of result are held at once.
constexpr std::uint32_t kChunkBytes = 16u << 20;
constexpr std::uint32_t kReferenceMargin = 16u << 20;
constexpr std::uint32_t kMaximumReferenceBytes = kChunkBytes + 2 * kReferenceMargin;
// A frame reaches back over its whole reference: 2^26 = 64 MiB covers reference and chunk.
constexpr int kWindowLog = 26;

constexpr std::size_t kChunkHeaderBytes = 20;
constexpr std::size_t kDigestBytes = 32;  // BLAKE2b-256

struct ChunkHeader {
    std::uint64_t referenceOffset = 0;
    std::uint32_t referenceLength = 0;
    std::uint32_t resultLength = 0;
    std::uint32_t frameLength = 0;
};

inline void encodeChunkHeader(const ChunkHeader& header, unsigned char* out) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(header.referenceOffset >> (8 * i));
    const std::uint32_t words[] = {header.referenceLength, header.resultLength, header.frameLength};
    for (int w = 0; w < 3; ++w)
        for (int i = 0; i < 4; ++i) out[8 + 4 * w + i] = static_cast<unsigned char>(words[w] >> (8 * i));
}

inline ChunkHeader decodeChunkHeader(const unsigned char* in) {
    ChunkHeader header;
    for (int i = 7; i >= 0; --i) header.referenceOffset = (header.referenceOffset << 8) | in[i];
    std::uint32_t words[3] = {};
    for (int w = 0; w < 3; ++w)
        for (int i = 3; i >= 0; --i) words[w] = (words[w] << 8) | in[8 + 4 * w + i];
    header.referenceLength = words[0];
    header.resultLength = words[1];
    header.frameLength = words[2];
    return header;
}

// The old bytes the chunk at `resultOffset` refers to: the same relative place
// in the old file, widened by the margin on each side and held inside it.
inline void referenceFor(std::uint64_t resultOffset, std::uint64_t resultSize, std::uint64_t baseSize,
                         std::uint64_t& offset, std::uint32_t& length) {
    const std::uint64_t place =
        resultSize ? static_cast<std::uint64_t>(static_cast<long double>(resultOffset) * baseSize / resultSize) : 0;
    const std::uint64_t start = place > kReferenceMargin ? place - kReferenceMargin : 0;
    const std::uint64_t end = std::min<std::uint64_t>(baseSize, place + kChunkBytes + kReferenceMargin);
    offset = std::min(start, baseSize);
    length = static_cast<std::uint32_t>(end > offset ? end - offset : 0);
}

}  // namespace starfell::delta
