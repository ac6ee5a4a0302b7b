// Locating a ZIP archive inside its file, as unzip does (see archive_view.h).
#include "update/archive_view.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "update/archive_files.h"

namespace starfell {

namespace {

constexpr std::uint32_t kEndRecordSize = 22;
constexpr std::uint32_t kLongestComment = 0xFFFF;
constexpr std::uint32_t kSizeField = 12, kOffsetField = 16;

std::uint32_t little32(const unsigned char* bytes) {
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

bool directoryStartsAt(std::FILE* file, std::uint64_t offset) {
    unsigned char signature[4];
    return archive_files::readAt(file, offset, signature, 4) == 4 && std::memcmp(signature, "PK\x01\x02", 4) == 0;
}

}  // namespace

ArchiveView viewArchive(std::FILE* file) {
    ArchiveView view;
    view.file = file;
    const std::uint64_t length = archive_files::fileLength(file);
    view.size = length;
    if (length < kEndRecordSize) return view;

    // The end record is the last "PK\5\6" that has room for its fixed part.
    const std::uint64_t tail = std::min<std::uint64_t>(length, kEndRecordSize + kLongestComment);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(tail));
    if (archive_files::readAt(file, length - tail, bytes.data(), bytes.size()) != bytes.size()) return view;
    std::size_t at = bytes.size() - kEndRecordSize + 1;
    do {
        --at;
    } while (at > 0 && std::memcmp(&bytes[at], "PK\x05\x06", 4) != 0);
    if (std::memcmp(&bytes[at], "PK\x05\x06", 4) != 0) return view;
    const std::uint64_t endRecord = length - tail + at;
    const std::uint32_t statedSize = little32(&bytes[at + kSizeField]);
    const std::uint32_t statedOffset = little32(&bytes[at + kOffsetField]);
    // Zip64 archives keep the real figures elsewhere; they are read as stated.
    if (statedOffset == 0xFFFFFFFF || statedSize == 0xFFFFFFFF) return view;
    // A directory said to end past the end record is refused, as unzip does.
    if (statedOffset + static_cast<std::uint64_t>(statedSize) > endRecord) return view;
    // Bytes between where the directory should end and the end record are
    // data put in front of the archive, unless the directory sits where it
    // says and only its size is understated.
    const std::uint64_t extra = endRecord - statedOffset - statedSize;
    if (extra > 0 && directoryStartsAt(file, statedOffset + extra)) view.start = extra;
    else if (extra > 0 && !directoryStartsAt(file, statedOffset)) return view;
    view.size = length - view.start;
    view.endRecord = endRecord - view.start;
    const std::uint64_t realSize = view.endRecord - statedOffset;
    if (realSize != statedSize && realSize <= 0xFFFFFFFFu) {
        view.directorySize = static_cast<std::uint32_t>(realSize);
        view.correctSize = true;
    }
    return view;
}

std::size_t readArchiveView(void* opaque, std::uint64_t offset, void* buffer, std::size_t size) {
    const auto* view = static_cast<const ArchiveView*>(opaque);
    if (offset > view->size) return 0;
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, view->size - offset));
    const std::size_t read = archive_files::readAt(view->file, view->start + offset, buffer, size);
    if (!view->correctSize) return read;
    // Overlay the real directory size on the end record's size field.
    unsigned char field[4];
    for (int i = 0; i < 4; ++i) field[i] = static_cast<unsigned char>(view->directorySize >> (8 * i));
    const std::uint64_t fieldAt = view->endRecord + kSizeField;
    for (std::uint64_t i = 0; i < 4; ++i) {
        const std::uint64_t position = fieldAt + i;
        if (position >= offset && position < offset + read) static_cast<unsigned char*>(buffer)[position - offset] = field[i];
    }
    return read;
}

std::uint32_t entryCrc(const void* data, std::size_t size, std::uint32_t crc) {
    return static_cast<std::uint32_t>(crc32_z(crc, static_cast<const Bytef*>(data), size));
}

}  // namespace starfell
