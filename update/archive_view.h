// Where a ZIP archive really starts and how big its central directory really
// is, worked out the way Info-ZIP's unzip does, so archives made by other
// tools (a self-extracting stub in front, an end record that understates the
// directory's size) open like any other. A size that reaches past the end
// record is refused, as unzip refuses it.
#pragma once
#include <cstdint>
#include <cstdio>

namespace starfell {

struct ArchiveView {
    std::FILE* file = nullptr;
    std::uint64_t start = 0;       // file offset of the archive's first byte
    std::uint64_t size = 0;        // bytes from `start` to the end of the file
    std::uint64_t endRecord = 0;   // the end record's offset within the archive
    std::uint32_t directorySize = 0;  // the central directory's real size
    bool correctSize = false;      // the end record's stated size is replaced
};

// Looks at the end record and the central directory's first signature; a
// file that is no archive, or one unzip could not make sense of either, gets
// a view of the whole file as it is, which the reader then refuses.
ArchiveView viewArchive(std::FILE* file);

// The read callback for miniz (`mz_zip_archive::m_pRead`) over such a view.
std::size_t readArchiveView(void* view, std::uint64_t offset, void* buffer, std::size_t size);

// The CRC-32 of an entry's content so far (start from `crc` = 0). The readers
// check entries with it instead of miniz's much slower own.
std::uint32_t entryCrc(const void* data, std::size_t size, std::uint32_t crc = 0);

}  // namespace starfell
