// Comparing two game folders byte for byte and writing the patch archive.
#include "server/patch_maker.h"

#include <miniz.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>

#include "server/content.h"
#include "server/delta_maker.h"
#include "server/md5.h"
#include "update/delta_format.h"

namespace starfell::server {

namespace stdfs = std::filesystem;

namespace {

// Regular files below `folder` by relative path ('/' separated); symbolic
// links and other special files are named in `error`, since an archive
// cannot carry them.
std::map<std::string, stdfs::path> filesBelow(const std::string& folder, std::string& error) {
    std::map<std::string, stdfs::path> files;
    std::error_code code;
    stdfs::recursive_directory_iterator it(folder, code);
    for (; !code && it != stdfs::recursive_directory_iterator(); it.increment(code)) {
        if (it->is_symlink(code) || (!it->is_regular_file(code) && !it->is_directory(code))) {
            error = "not a regular file or folder: " + it->path().string();
            return {};
        }
        if (it->is_regular_file(code)) files[stdfs::relative(it->path(), folder, code).generic_string()] = it->path();
    }
    if (code) error = "cannot list " + folder + ": " + code.message();
    return files;
}


// Why the launcher would refuse `name` as an archive entry, or empty.
std::string refusedEntryName(const std::string& name) {
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL"};
    if (name.find(':') != std::string::npos || name.find('\\') != std::string::npos) return "contains ':' or '\\'";
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = std::min(name.find('/', start), name.size());
        std::string part = name.substr(start, end - start);
        if (part.empty() || part.back() == '.' || part.back() == ' ') return "a part ends in a dot or a space";
        for (unsigned char c : part) {
            if (c < 0x20) return "contains a control character";
        }
        std::string stem = part.substr(0, part.find('.'));
        std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return std::toupper(c); });
        bool device = std::find(std::begin(devices), std::end(devices), stem) != std::end(devices) ||
                      (stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
                       stem[3] >= '1' && stem[3] <= '9');
        if (device) return "a part is a Windows device name";
        start = end + 1;
    }
    return {};
}

constexpr std::uint64_t kSmallestDeltaFile = 64 * 1024;

bool isDecimal(const std::string& text) {
    return !text.empty() && text.size() <= 9 && (text.size() == 1 || text[0] != '0') &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void damageLastByte(const stdfs::path& file) {
    std::fstream stream(file, std::ios::binary | std::ios::in | std::ios::out);
    stream.seekg(-1, std::ios::end);
    const char byte = static_cast<char>(stream.get() ^ 0x5a);
    stream.seekp(-1, std::ios::end);
    stream.put(byte);
}

}  // namespace

bool sameBytes(const stdfs::path& a, const stdfs::path& b) {
    std::error_code code;
    if (stdfs::file_size(a, code) != stdfs::file_size(b, code) || code) return false;
    std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
    if (!left || !right) return false;
    std::vector<char> x(1 << 16), y(1 << 16);
    while (left && right) {
        left.read(x.data(), static_cast<std::streamsize>(x.size()));
        right.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (left.gcount() != right.gcount() || !std::equal(x.begin(), x.begin() + left.gcount(), y.begin())) {
            return false;
        }
    }
    return left.eof() && right.eof();
}

PatchResult makePatch(const PatchRequest& request) {
    PatchResult result;
    std::error_code code;
    for (const std::string* folder : {&request.from, &request.to, &request.root}) {
        if (!stdfs::is_directory(*folder, code)) {
            result.error = *folder + " is not a folder";
            return result;
        }
    }
    if (!isDecimal(request.number)) {
        result.error = "patch number \"" + request.number + "\" is not a number of 1 to 9 digits without leading zeros";
        return result;
    }
    std::vector<std::string> published = ContentFolder(request.root).patchNumbers();
    if (!published.empty() && std::stoll(request.number) <= std::stoll(published.back())) {
        result.error = "patch number " + request.number + " is not above the newest patch " + published.back() +
                       " in " + (stdfs::path(request.root) / "patches").string();
        return result;
    }

    std::map<std::string, stdfs::path> oldFiles = filesBelow(request.from, result.error);
    if (!result.error.empty()) return result;
    std::map<std::string, stdfs::path> newFiles = filesBelow(request.to, result.error);
    if (!result.error.empty()) return result;

    // The archive's own version.dat takes the place of the folders' one.
    oldFiles.erase("version.dat");
    newFiles.erase("version.dat");
    for (const auto& [name, path] : newFiles) {
        auto old = oldFiles.find(name);
        if (old == oldFiles.end()) {
            result.added.push_back(name);
        } else if (!sameBytes(old->second, path)) {
            result.changed.push_back(name);
        }
    }
    for (const auto& [name, path] : oldFiles) {
        if (!newFiles.count(name)) result.removed.push_back(name);
    }
    std::vector<std::string> carried = result.added;
    carried.insert(carried.end(), result.changed.begin(), result.changed.end());
    std::sort(carried.begin(), carried.end());
    for (const std::string& name : carried) {
        std::string why = refusedEntryName(name);
        if (!why.empty()) {
            result.error = "the launcher refuses the entry name \"" + name + "\": " + why;
            return result;
        }
    }

    // Written under a temporary name and renamed, so the store never offers a half-written archive.
    stdfs::path patches = stdfs::path(request.root) / "patches";
    stdfs::create_directories(patches, code);
    stdfs::path archive = patches / (request.number + ".zip");
    stdfs::path partial = patches / (request.number + ".zip.partial");
    mz_zip_archive zip{};
    if (!mz_zip_writer_init_file(&zip, partial.c_str(), 0)) {
        result.error = "cannot write " + partial.string();
        return result;
    }
    bool written = true;
    std::string index;
    const stdfs::path deltaFile = patches / (request.number + ".zip.delta");
    for (const std::string& name : carried) {
        // A changed file travels as a delta when that is under half its size;
        // below kSmallestDeltaFile the saving is not worth a delta.
        std::optional<std::uint64_t> deltaSize;
        const bool changed = std::binary_search(result.changed.begin(), result.changed.end(), name);
        if (request.deltas && changed && stdfs::file_size(newFiles[name], code) >= kSmallestDeltaFile) {
            deltaSize = makeDelta(oldFiles[name].string(), newFiles[name].string(), deltaFile.string(), result.error);
            if (!deltaSize) break;
        }
        const std::uint64_t size = stdfs::file_size(newFiles[name], code);
        if (deltaSize && *deltaSize < size / 2) {
            if (request.damageDeltas) damageLastByte(deltaFile);
            const std::string entry = delta::kReservedFolder + name;
            written = mz_zip_writer_add_file(&zip, entry.c_str(), deltaFile.c_str(), nullptr, 0, MZ_NO_COMPRESSION);
            index += name + "\t" + blake2bOfFile(oldFiles[name].string()) + "\t" +
                     blake2bOfFile(newFiles[name].string()) + "\t" + std::to_string(size) + "\n";
            result.deltas.push_back(name);
        } else {
            written = mz_zip_writer_add_file(&zip, name.c_str(), newFiles[name].c_str(), nullptr, 0, MZ_DEFAULT_LEVEL);
        }
        if (!written) {
            result.error = "cannot add " + newFiles[name].string() + " to " + partial.string();
            break;
        }
        std::optional<std::string> digest = md5OfFile(newFiles[name].string());
        result.entries.push_back({name, name, digest.value_or("")});
    }
    stdfs::remove(deltaFile, code);
    written = written && result.error.empty();
    if (!index.empty())
        written = written && mz_zip_writer_add_mem(&zip, delta::kIndexName, index.data(), index.size(), MZ_DEFAULT_LEVEL);
    written = written && mz_zip_writer_add_mem(&zip, "version.dat", request.number.data(), request.number.size(),
                                               MZ_DEFAULT_LEVEL);
    written = written && mz_zip_writer_finalize_archive(&zip);
    written = mz_zip_writer_end(&zip) && written;
    if (written) stdfs::rename(partial, archive, code);
    if (!written || code) {
        if (result.error.empty()) result.error = "cannot write " + archive.string();
        stdfs::remove(partial, code);
        return result;
    }
    result.archive = archive.string();
    return result;
}

}  // namespace starfell::server
