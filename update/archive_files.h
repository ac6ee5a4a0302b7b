// The file calls of archive extraction, taking UTF-8 paths on every platform.
// Windows converts them to wide paths, so game folders with non-ASCII names work.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace starfell::archive_files {

std::FILE* openForReading(const std::string& path);
// The same for a plain file only: never through a link, never a folder.
std::FILE* openPlainFileForReading(const std::string& path);
// Reads `size` bytes at `offset` (64-bit on every platform); the count read.
std::size_t readAt(std::FILE* file, std::uint64_t offset, void* buffer, std::size_t size);
// The file's length, or 0 when it cannot be found.
std::uint64_t fileLength(std::FILE* file);
// Error codes with the numbering of file_platform.h.
std::uint32_t removeFile(const std::string& path);
std::uint32_t makeDirectory(const std::string& path);
// True when `path` itself is a symbolic link (or, on Windows, any reparse
// point such as a junction), without following it.
bool isLink(const std::string& path);

// A new file, created only where nothing exists and never through a link.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // `executable`: with the execute bits where the platform has them.
    bool create(const std::string& path, bool executable = false);
    bool write(const void* data, std::size_t size);
    // Asks the system to start writing the file's bytes to the disk now, so a
    // later flush finds most of them there (a hint; Linux only).
    void startWriteBack();
    // Returns once the file's bytes are on the disk; false when they may not be.
    bool flush();
    // False when the last buffered bytes could not be written.
    bool close();

private:
    std::intptr_t handle_ = -1;
};

}  // namespace starfell::archive_files
