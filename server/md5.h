// MD5 digests of files, as 32 lowercase hexadecimal digits (the launcher's form).
#pragma once
#include <optional>
#include <string>

namespace starfell::server {

// The digest of the file at `path`, or nothing when it cannot be read.
std::optional<std::string> md5OfFile(const std::string& path);

}  // namespace starfell::server
