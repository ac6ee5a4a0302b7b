// Windows: archive extraction's file calls through the wide entry points.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "base/file_platform.h"
#include "base/text_utils.h"
#include "update/archive_files.h"

namespace starfell::archive_files {

std::FILE* openForReading(const std::string& path) {
    std::FILE* file = _wfopen(utf8ToWide(path).c_str(), L"rb");
    if (file) std::setvbuf(file, nullptr, _IOFBF, 64 * 1024);
    return file;
}

std::FILE* openPlainFileForReading(const std::string& path) {
    const HANDLE handle = CreateFileW(utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    const bool plain = GetFileInformationByHandle(handle, &info) &&
                       !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    const int descriptor = plain ? _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY) : -1;
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, "rb");
    if (!file) _close(descriptor);
    return file;
}

std::size_t readAt(std::FILE* file, std::uint64_t offset, void* buffer, std::size_t size) {
    if (_fseeki64(file, static_cast<__int64>(offset), SEEK_SET) != 0) return 0;
    return std::fread(buffer, 1, size, file);
}

std::uint64_t fileLength(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return 0;
    const __int64 length = _ftelli64(file);
    return length < 0 ? 0 : static_cast<std::uint64_t>(length);
}

std::uint32_t removeFile(const std::string& path) { return fs::removeFile(utf8ToWide(path)); }
std::uint32_t makeDirectory(const std::string& path) { return fs::makeDirectory(utf8ToWide(path)); }

bool isLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool OutputFile::create(const std::string& path, bool) {
    close();
    // CREATE_NEW fails on anything already there, a link included.
    HANDLE file = CreateFileW(utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool OutputFile::write(const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(handle_), bytes, piece, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        size -= written;
    }
    return true;
}

void OutputFile::startWriteBack() {}

bool OutputFile::flush() { return FlushFileBuffers(reinterpret_cast<HANDLE>(handle_)) != 0; }

bool OutputFile::close() {
    if (handle_ == -1) return true;
    const bool closed = CloseHandle(reinterpret_cast<HANDLE>(handle_)) != 0;
    handle_ = -1;
    return closed;
}

}  // namespace starfell::archive_files
