// MD5 digest of a file as 32 lowercase hexadecimal digits, or "None".
#pragma once
#include <string>

namespace starfell {

// Streams the file in pieces of at most 1024 bytes; "None" for every failure
// (missing file, unreadable file, directory, a read error, no hash provider).
std::string fileMd5(const std::wstring& path);

// Formats digest bytes as lowercase hexadecimal, first byte first.
std::string digestToHex(const unsigned char* digest, size_t length);

}  // namespace starfell
