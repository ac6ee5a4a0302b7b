// libFuzzer target for binary deltas: any delta entry, applied over a known
// base, must end without a fault, and the file must then hold either its base
// or the result the index names (a wrong result is never renamed into place).
#include <miniz.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "update/delta_apply.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    return bytes;
}

const std::string kBase = pattern(70000);

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = [] {
        const std::string made = (std::filesystem::temp_directory_path() /
                                  ("delta-fuzz-" + std::to_string(getpid()))).string() + "/";
        std::filesystem::create_directories(made);
        return made;
    }();
    static const std::string baseDigest = [] {
        writeFile(folder + "a.dat", kBase);
        return starfell::delta::fileDigest(folder + "a.dat");
    }();
    // The result the index names: the base with its first half written twice.
    static const std::string result = kBase.substr(0, 35000) + kBase;
    static const std::string resultDigest = [] {
        writeFile(folder + "result", result);
        return starfell::delta::fileDigest(folder + "result");
    }();
    writeFile(folder + "a.dat", kBase);

    const std::string index = "a.dat\t" + baseDigest + "\t" + resultDigest + "\t" + std::to_string(result.size()) + "\n";
    mz_zip_archive zip{};
    check(mz_zip_writer_init_heap(&zip, 0, 0));
    check(mz_zip_writer_add_mem(&zip, ".starfell-delta/a.dat", data, size, MZ_NO_COMPRESSION));
    check(mz_zip_writer_add_mem(&zip, ".starfell-delta/index.txt", index.data(), index.size(), MZ_NO_COMPRESSION));
    void* archive = nullptr;
    size_t archiveSize = 0;
    check(mz_zip_writer_finalize_heap_archive(&zip, &archive, &archiveSize));
    mz_zip_writer_end(&zip);

    mz_zip_archive reader{};
    check(mz_zip_reader_init_mem(&reader, archive, archiveSize, 0));
    const bool applied = starfell::delta::applyDeltas(reader, folder, {});
    mz_zip_reader_end(&reader);
    mz_free(archive);
    const std::string now = readFile(folder + "a.dat");
    check(applied ? now == result : now == kBase);
    check(!std::filesystem::exists(folder + "a.dat.starfell-partial"));
    return 0;
}
