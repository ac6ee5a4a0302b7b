// Binary deltas for make-patch: the bytes that turn an old game file into the
// new one, in the chunked zstd layout of update/delta_format.h.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace starfell::server {

// Writes the delta from `oldFile` to `newFile` into `deltaFile`; its size, or
// nothing with `error` set.
std::optional<std::uint64_t> makeDelta(const std::string& oldFile, const std::string& newFile,
                                       const std::string& deltaFile, std::string& error);

// BLAKE2b-256 of a file in lowercase hex (the digest the delta index names),
// empty when it cannot be read.
std::string blake2bOfFile(const std::string& path);

}  // namespace starfell::server
