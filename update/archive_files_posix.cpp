// POSIX: archive extraction's file calls. UTF-8 paths go to the system as they are.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/file_platform.h"
#include "update/archive_files.h"

namespace starfell::archive_files {

std::FILE* openForReading(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    // miniz reads in 64 KiB pieces; a matching buffer saves system calls.
    if (file) std::setvbuf(file, nullptr, _IOFBF, 64 * 1024);
    return file;
}

std::FILE* openPlainFileForReading(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) return nullptr;
    struct stat info {};
    std::FILE* file = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) ? fdopen(descriptor, "rb") : nullptr;
    if (!file) ::close(descriptor);
    return file;
}

std::size_t readAt(std::FILE* file, std::uint64_t offset, void* buffer, std::size_t size) {
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
    return std::fread(buffer, 1, size, file);
}

std::uint64_t fileLength(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) return 0;
    const off_t length = ftello(file);
    return length < 0 ? 0 : static_cast<std::uint64_t>(length);
}

std::uint32_t removeFile(const std::string& path) { return fs::removeFile(path); }
std::uint32_t makeDirectory(const std::string& path) { return fs::makeDirectory(path); }

bool isLink(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool OutputFile::create(const std::string& path, bool executable) {
    close();
    const int descriptor =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, executable ? 0777 : 0666);
    handle_ = descriptor;
    return descriptor >= 0;
}

bool OutputFile::write(const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(static_cast<int>(handle_), bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

void OutputFile::startWriteBack() {
#ifdef __linux__
    sync_file_range(static_cast<int>(handle_), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool OutputFile::flush() { return fdatasync(static_cast<int>(handle_)) == 0; }

bool OutputFile::close() {
    if (handle_ < 0) return true;
    const bool closed = ::close(static_cast<int>(handle_)) == 0;
    handle_ = -1;
    return closed;
}

}  // namespace starfell::archive_files
