// The small set of file-system calls that shared code needs, implemented once
// per platform (file_platform_win32.cpp, file_platform_posix.cpp). Error codes
// and attribute bits use the Windows numbering on every platform.
#pragma once
#include <cstdint>
#include <string>

namespace starfell::fs {

// Error codes.
constexpr std::uint32_t kSuccess = 0;
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kSharingViolation = 32;
constexpr std::uint32_t kAlreadyExists = 183;

// Attribute bits.
constexpr std::uint32_t kReadOnly = 0x1;
constexpr std::uint32_t kHidden = 0x2;
constexpr std::uint32_t kSystem = 0x4;
constexpr std::uint32_t kDirectory = 0x10;
constexpr std::uint32_t kNormal = 0x80;
constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFF;
// Attributes that stand in the way of deleting a file.
constexpr std::uint32_t kBlockingAttributes = kReadOnly | kHidden | kSystem;

// The separator of paths the launcher builds itself.
extern const char kSeparator;
extern const wchar_t kWideSeparator;

// kInvalidAttributes when the path does not exist.
std::uint32_t getAttributes(const std::wstring& path);
std::uint32_t getAttributes(const std::string& path);
bool setAttributes(const std::wstring& path, std::uint32_t attributes);
bool setAttributes(const std::string& path, std::uint32_t attributes);

// Each returns kSuccess or the error code.
std::uint32_t removeFile(const std::wstring& path);
std::uint32_t removeFile(const std::string& path);
std::uint32_t makeDirectory(const std::wstring& path);
std::uint32_t makeDirectory(const std::string& path);
std::uint32_t moveFile(const std::wstring& from, const std::wstring& to);

// Full path of the running executable; empty on failure.
std::wstring modulePath();
std::string modulePathNarrow();

void sleepMilliseconds(unsigned milliseconds);

}  // namespace starfell::fs
