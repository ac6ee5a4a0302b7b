// The small set of file-system calls that shared code needs, implemented once
// per platform (file_platform_win32.cpp, file_platform_posix.cpp). Error codes
// and attribute bits use the Windows numbering on every platform.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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
// Writes the finished file `from` through to the disk, then puts it in the
// place of `to` in one step, replacing a file already there: `to` is never
// missing, and after a crash it holds either the old or the whole new content.
std::uint32_t replaceFile(const std::wstring& from, const std::wstring& to);
std::uint32_t replaceFile(const std::string& from, const std::string& to);
// The same for a file whose bytes the caller has already written through.
std::uint32_t replaceFlushedFile(const std::wstring& from, const std::wstring& to);
// Writes a folder's list of names through to the disk, so files renamed or
// created in it survive a crash (nothing to do where a rename is written through).
void flushFolder(const std::wstring& folder);
// Names of the plain files directly in `folder`; empty when it cannot be read.
std::vector<std::wstring> listFiles(const std::wstring& folder);

// fopen whose file is not handed on to programs the launcher starts.
std::FILE* openFile(const std::wstring& path, const char* mode);
std::FILE* openFile(const std::string& path, const char* mode);

// Full path of the running executable; empty on failure.
std::wstring modulePath();
std::string modulePathNarrow();

void sleepMilliseconds(unsigned milliseconds);

}  // namespace starfell::fs
