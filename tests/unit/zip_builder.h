// Builds ZIP archives in memory with miniz's writer, for the extraction tests.
// Names miniz's writer refuses (leading '/', '\', ':') are written under a
// stand-in of the same length and patched into place afterwards.
#pragma once
#include <miniz.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace starfell::test {

class ZipBuilder {
public:
    ZipBuilder() {
        if (!mz_zip_writer_init_heap(&zip_, 0, 0)) throw std::runtime_error("zip writer");
    }
    ~ZipBuilder() { mz_zip_writer_end(&zip_); }

    ZipBuilder& file(const std::string& name, const std::string& data, int level = MZ_DEFAULT_LEVEL) {
        if (!mz_zip_writer_add_mem(&zip_, standIn(name).c_str(), data.data(), data.size(), static_cast<mz_uint>(level)))
            throw std::runtime_error("zip add " + name);
        return *this;
    }
    ZipBuilder& directory(const std::string& name) { return file(name, std::string(), MZ_NO_COMPRESSION); }

    // An entry whose deflated data unpacks to `actual` while the archive
    // declares only `declaredSize` bytes.
    ZipBuilder& understated(const std::string& name, const std::string& actual, size_t declaredSize) {
        size_t packedSize = 0;
        void* packed = tdefl_compress_mem_to_heap(actual.data(), actual.size(), &packedSize, TDEFL_DEFAULT_MAX_PROBES);
        const mz_uint32 crc = static_cast<mz_uint32>(mz_crc32(MZ_CRC32_INIT,
            reinterpret_cast<const unsigned char*>(actual.data()), declaredSize));
        const bool added = mz_zip_writer_add_mem_ex(&zip_, name.c_str(), packed, packedSize, nullptr, 0,
                                                    MZ_DEFAULT_LEVEL | MZ_ZIP_FLAG_COMPRESSED_DATA, declaredSize, crc);
        mz_free(packed);
        if (!added) throw std::runtime_error("zip add " + name);
        return *this;
    }

    std::string bytes() {
        void* buffer = nullptr;
        size_t size = 0;
        if (!mz_zip_writer_finalize_heap_archive(&zip_, &buffer, &size)) throw std::runtime_error("zip finalize");
        std::string archive(static_cast<const char*>(buffer), size);
        mz_free(buffer);
        for (const auto& [standIn, name] : patches_) {
            for (size_t at = archive.find(standIn); at != std::string::npos; at = archive.find(standIn, at + 1))
                archive.replace(at, name.size(), name);
        }
        return archive;
    }

private:
    std::string standIn(const std::string& name) {
        std::string replaced = name;
        for (size_t i = 0; i < replaced.size(); ++i) {
            if (replaced[i] == '\\') replaced[i] = '^';
            if (replaced[i] == ':') replaced[i] = '~';
            if (i == 0 && replaced[i] == '/') replaced[i] = '#';
        }
        if (replaced != name) patches_.emplace_back(replaced, name);
        return replaced;
    }

    mz_zip_archive zip_{};
    std::vector<std::pair<std::string, std::string>> patches_;
};

}  // namespace starfell::test
