// POSIX file-system calls behind file_platform.h. Wide paths are UTF-32 and
// become UTF-8 at the system call; "read-only" is the missing owner write bit.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "base/file_platform.h"
#include "base/file_platform_posix.h"
#include "base/text_utils.h"

namespace starfell::fs {

const char kSeparator = '/';
const wchar_t kWideSeparator = L'/';

std::uint32_t errorFromErrno(int error) {
    switch (error) {
        case 0: return kSuccess;
        case ENOENT: case ENOTDIR: return kFileNotFound;
        case EACCES: case EPERM: case EROFS: return kAccessDenied;
        case EBUSY: case ETXTBSY: return kSharingViolation;
        case EEXIST: return kAlreadyExists;
        default: return 0x10000u + static_cast<std::uint32_t>(error);  // outside the Windows codes we act on
    }
}

std::uint32_t getAttributes(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return kInvalidAttributes;
    std::uint32_t attributes = 0;
    if (S_ISDIR(info.st_mode)) attributes |= kDirectory;
    if (!(info.st_mode & S_IWUSR)) attributes |= kReadOnly;
    return attributes == 0 ? kNormal : attributes;
}
std::uint32_t getAttributes(const std::wstring& path) { return getAttributes(wideToUtf8(path)); }

bool setAttributes(const std::string& path, std::uint32_t attributes) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return false;
    mode_t mode = info.st_mode & 07777;
    if (attributes & kReadOnly)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    return chmod(path.c_str(), mode) == 0;
}
bool setAttributes(const std::wstring& path, std::uint32_t attributes) {
    return setAttributes(wideToUtf8(path), attributes);
}

std::uint32_t removeFile(const std::string& path) {
    return unlink(path.c_str()) == 0 ? kSuccess : errorFromErrno(errno);
}
std::uint32_t removeFile(const std::wstring& path) { return removeFile(wideToUtf8(path)); }

std::uint32_t makeDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0777) == 0 ? kSuccess : errorFromErrno(errno);
}
std::uint32_t makeDirectory(const std::wstring& path) { return makeDirectory(wideToUtf8(path)); }

std::uint32_t moveFile(const std::wstring& from, const std::wstring& to) {
    // MoveFile refuses an existing target; rename would replace it.
    const std::string target = wideToUtf8(to);
    struct stat info {};
    if (lstat(target.c_str(), &info) == 0) return kAlreadyExists;
    return std::rename(wideToUtf8(from).c_str(), target.c_str()) == 0 ? kSuccess : errorFromErrno(errno);
}

namespace {

// fsync of a file or folder by path; false when its content may not be on the disk.
bool flushPath(const std::string& path, int flags) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (descriptor < 0) return false;
    const bool flushed = fsync(descriptor) == 0;
    close(descriptor);
    return flushed;
}

}  // namespace

std::uint32_t replaceFile(const std::string& from, const std::string& to) {
    if (!flushPath(from, O_NOFOLLOW)) return errorFromErrno(errno);
    // rename(2) swaps the name over to the new file atomically.
    return std::rename(from.c_str(), to.c_str()) == 0 ? kSuccess : errorFromErrno(errno);
}
std::uint32_t replaceFile(const std::wstring& from, const std::wstring& to) {
    return replaceFile(wideToUtf8(from), wideToUtf8(to));
}

std::uint32_t replaceFlushedFile(const std::wstring& from, const std::wstring& to) {
    return std::rename(wideToUtf8(from).c_str(), wideToUtf8(to).c_str()) == 0 ? kSuccess : errorFromErrno(errno);
}

void flushFolder(const std::wstring& folder) { flushPath(wideToUtf8(folder), O_DIRECTORY); }

std::vector<std::wstring> listFiles(const std::wstring& folder) {
    std::vector<std::wstring> names;
    const std::string narrowFolder = wideToUtf8(folder);
    DIR* directory = opendir(narrowFolder.c_str());
    if (!directory) return names;
    while (const dirent* entry = readdir(directory)) {
        struct stat info {};
        const std::string path = narrowFolder + "/" + entry->d_name;
        if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) names.push_back(utf8ToWide(entry->d_name));
    }
    closedir(directory);
    return names;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), (std::string(mode) + "e").c_str());  // "e": close-on-exec
}
std::FILE* openFile(const std::wstring& path, const char* mode) { return openFile(wideToUtf8(path), mode); }

std::string modulePathNarrow() {
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof(buffer)) return std::string();
    return std::string(buffer, static_cast<size_t>(length));
}
std::wstring modulePath() { return utf8ToWide(modulePathNarrow()); }

void sleepMilliseconds(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace starfell::fs
