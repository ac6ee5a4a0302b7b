// Patch lists from the server: which archives to fetch, fetching them through
// the game guard, and unpacking them over the game folder with miniz.
#include "update/patches.h"

#include <miniz.h>

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/file_utils.h"
#include "base/text_utils.h"
#include "core/launcher_state.h"
#include "core/packet.h"
#include "update/archive_files.h"
#include "update/archive_paths.h"
#include "update/archive_view.h"
#include "update/download.h"
#include "update/game_guard.h"
#include "update/signed_files.h"
#include "update/version_store.h"

namespace starfell {

namespace {

// Where one entry's bytes go, held to the entry's declared size and to what
// is left of the archive's allowance.
struct EntryOutput {
    archive_files::OutputFile file;
    std::uint64_t limit = 0;
    std::uint64_t written = 0;
};

size_t writeEntryBytes(void* opaque, mz_uint64, const void* data, size_t size) {
    auto* output = static_cast<EntryOutput*>(opaque);
    if (size > output->limit - output->written) return 0;  // more than announced: stop
    if (!output->file.write(data, size)) return 0;
    output->written += size;
    return size;
}

// True for an entry made on a Unix system whose mode gives anybody the right
// to run it: a patched native program must still start.
bool isExecutableEntry(const mz_zip_archive_file_stat& stat) {
    constexpr unsigned kMadeOnUnix = 3;
    return (stat.m_version_made_by >> 8) == kMadeOnUnix && ((stat.m_external_attr >> 16) & 0111) != 0;
}

// Appended to an entry's file name while its new content is being written.
constexpr char kPartialSuffix[] = ".starfell-partial";

class Extraction {
public:
    Extraction(mz_zip_archive& zip, std::string folder) : zip_(zip), folder_(std::move(folder)) {}

    // Writes one entry; false when it was refused or failed (already reported).
    bool extractEntry(mz_uint index) {
        mz_zip_archive_file_stat stat;
        if (!mz_zip_reader_file_stat(&zip_, index, &stat)) {
            writeDiagnostic("Failed to get file stat at index: " + std::to_string(index));
            return false;
        }
        const bool isDirectory = stat.m_is_directory != 0;
        std::vector<std::string> components;
        if (!splitEntryName(stat.m_filename, isDirectory, components)) {
            writeDiagnostic(std::string("Refused unsafe entry: ") + stat.m_filename);
            return false;
        }
        useFirstSpelling(components);

        // Create the folders level by level, never passing through a link.
        std::string path = folder_;
        const size_t folders = isDirectory ? components.size() : components.size() - 1;
        for (size_t i = 0; i < folders; ++i) {
            path += components[i];
            if (archive_files::isLink(path)) {
                writeDiagnostic(std::string("Refused unsafe entry: ") + stat.m_filename);
                return false;
            }
            // A new folder is a new name in the folder above it.
            if (archive_files::makeDirectory(path) == fs::kSuccess)
                touchedFolders_.insert(folder_ + joined(components, i));
            path += fs::kSeparator;
        }
        if (isDirectory) return true;
        path += components.back();
        if (archive_files::isLink(path)) {
            writeDiagnostic(std::string("Refused unsafe entry: ") + stat.m_filename);
            return false;
        }

        // The entry is unpacked beside its file first, so a damaged entry or
        // a full disk leaves the old file as it was; only a whole new file
        // takes its place.
        const std::string partial = path + kPartialSuffix;
        archive_files::removeFile(partial);  // left over from an interrupted run
        if (!writeEntry(index, stat, partial)) {
            writeDiagnostic("Failed to extract: " + path);
            return false;
        }

        // Renamed over the old file, never deleting it first: the path always
        // holds the old or the whole new content.
        if (!replaceFileKeepingAttributes(partial, path)) return false;
        touchedFolders_.insert(folder_ + joined(components, components.size() - 1));
        return true;
    }

    // Writes the names of every folder this extraction changed through to the
    // disk, so the files are there before a version file vouches for them.
    void flushTouchedFolders() {
        for (const std::string& folder : touchedFolders_) fs::flushFolder(utf8ToWide(folder));
        touchedFolders_.clear();
    }

private:
    // The first `count` components joined by the separator: a folder below
    // the destination ("" for the destination itself).
    static std::string joined(const std::vector<std::string>& components, size_t count) {
        std::string folder;
        for (size_t i = 0; i < count; ++i) folder += (i ? std::string(1, fs::kSeparator) : "") + components[i];
        return folder;
    }

    // Names that differ only by case are one file on Windows, where a later
    // entry replaces an earlier one. Every platform follows that: each folder
    // or file of this archive keeps the spelling of the entry that named it
    // first, so the game folder ends the same everywhere.
    void useFirstSpelling(std::vector<std::string>& components) {
        std::string key;
        for (std::string& component : components) {
            for (char c : component) key.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
            const auto known = spellings_.emplace(key, component);
            if (!known.second) component = known.first->second;
            key.push_back('/');
        }
    }

    // Streams the entry into a new file; a file that could not be written
    // completely is removed rather than left half-written.
    bool writeEntry(mz_uint index, const mz_zip_archive_file_stat& stat, const std::string& path) {
        if (stat.m_uncomp_size > kMaximumExtractedBytes - extracted_) return false;
        EntryOutput output;
        output.limit = stat.m_uncomp_size;
        if (!output.file.create(path, isExecutableEntry(stat))) return false;
        bool written = mz_zip_reader_extract_to_callback(&zip_, index, writeEntryBytes, &output, 0) != 0;
        // An entry stored without data reports success with nothing written.
        written = written && output.written == stat.m_uncomp_size;
        written = output.file.close() && written;
        extracted_ += output.written;
        if (!written) archive_files::removeFile(path);
        return written;
    }

    mz_zip_archive& zip_;
    std::string folder_;
    std::uint64_t extracted_ = 0;
    std::map<std::string, std::string> spellings_;  // ASCII-lowercased path -> first spelling
    std::set<std::string> touchedFolders_;
};

// True for an entry that would replace "version.dat" in the game folder
// (any case: one file on Windows).
bool isVersionFileEntry(mz_zip_archive& zip, mz_uint index) {
    mz_zip_archive_file_stat stat;
    if (!mz_zip_reader_file_stat(&zip, index, &stat) || stat.m_is_directory) return false;
    static constexpr char kName[] = "version.dat";
    const char* name = stat.m_filename;
    for (size_t i = 0; i < sizeof kName; ++i) {
        const char c = name[i];
        if (((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c) != kName[i]) return false;
    }
    return true;
}

bool isReservedDeltaEntry(mz_zip_archive& zip, mz_uint index) {
    mz_zip_archive_file_stat stat;
    return mz_zip_reader_file_stat(&zip, index, &stat) && delta::isReservedEntry(stat.m_filename);
}

// The destination folder with every `/` turned into this platform's separator
// and one separator at the end.
std::string normalisedFolder(std::string folder) {
    if (fs::kSeparator != '/')
        for (char& c : folder)
            if (c == '/') c = fs::kSeparator;
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += fs::kSeparator;
    return folder;
}

}  // namespace

bool readPatchNumber(const std::wstring& entry, std::int32_t& number) {
    // As a standard string-to-int conversion reads it: leading white space
    // and a sign, then digits; whatever follows them (a CR of a CRLF list)
    // is not part of the number.
    std::size_t at = 0;
    while (at < entry.size() && (entry[at] == L' ' || (entry[at] >= L'\t' && entry[at] <= L'\r'))) ++at;
    const bool negative = at < entry.size() && entry[at] == L'-';
    if (at < entry.size() && (entry[at] == L'+' || entry[at] == L'-')) ++at;
    std::int64_t value = 0;
    const std::size_t firstDigit = at;
    for (; at < entry.size() && entry[at] >= L'0' && entry[at] <= L'9'; ++at) {
        value = value * 10 + (entry[at] - L'0');
        if (value > std::int64_t{INT32_MAX} + 1) return false;  // outside 32 bits
    }
    if (at == firstDigit) return false;
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return false;
    number = static_cast<std::int32_t>(value);
    return true;
}

bool extractArchive(const std::string& archivePath, const std::string& destinationFolder, bool writeVersionFile,
                    const delta::WholeFileFetch& fetchWhole) {
    std::FILE* file = archive_files::openForReading(archivePath);
    mz_zip_archive zip{};
    // Opened where the archive really starts, so stubs and mis-stated
    // directory sizes are read as unzip reads them.
    ArchiveView view = file ? viewArchive(file) : ArchiveView{};
    zip.m_pRead = readArchiveView;
    zip.m_pIO_opaque = &view;
    if (!file || !mz_zip_reader_init(&zip, view.size, 0)) {
        if (file) std::fclose(file);
        writeDiagnostic("Failed to open archive: " + archivePath);
        return false;
    }

    const std::string folder = normalisedFolder(destinationFolder);
    Extraction extraction(zip, folder);
    bool failed = false;
    std::vector<mz_uint> versionEntries;
    const mz_uint count = mz_zip_reader_get_num_files(&zip);
    for (mz_uint index = 0; index < count; ++index) {
        if (isReservedDeltaEntry(zip, index)) continue;  // applied through the delta index below
        if (isVersionFileEntry(zip, index)) {
            versionEntries.push_back(index);
            continue;
        }
        if (!extraction.extractEntry(index)) failed = true;
    }
    if (!delta::applyDeltas(zip, folder, fetchWhole)) failed = true;

    // The version file says which patch the folder holds: written last, once
    // every other file is on the disk, so a run killed or cut off while
    // unpacking (or a power cut) fetches the patch again next time.
    extraction.flushTouchedFolders();
    if (!versionEntries.empty()) {
        if (failed || !writeVersionFile) {
            writeDiagnostic("Version file kept, patch not fully applied: " + folder + "version.dat");
        } else {
            for (mz_uint index : versionEntries)
                if (!extraction.extractEntry(index)) failed = true;
            extraction.flushTouchedFolders();
        }
    }

    mz_zip_reader_end(&zip);
    std::fclose(file);
    if (failed) {
        writeDiagnostic("Extraction completed with errors");
        return false;
    }
    return true;
}

namespace {

// Archives of patches already installed: left behind by a run that ended
// between unpacking an archive and deleting it. An archive above the
// installed version failed to apply and stays for a later look.
void removeInstalledArchives(const std::wstring& staging, std::int32_t installedNumber) {
    for (const std::wstring& name : fs::listFiles(staging)) {
        static const std::wstring kExtension = L".zip";
        if (name.size() <= kExtension.size() || name.compare(name.size() - kExtension.size(), kExtension.size(), kExtension) != 0)
            continue;
        std::int32_t number = 0;
        if (readPatchNumber(name.substr(0, name.size() - kExtension.size()), number) && number <= installedNumber)
            fs::removeFile(staging + fs::kWideSeparator + name);
    }
}

}  // namespace

void applyPatchList(const std::string& packet, const WorkContext& context) {
    const std::wstring& folder = context.gameFolder;
    // A file a delta cannot be applied to comes whole from the repair copies,
    // signed like every repair.
    const delta::WholeFileFetch fetchWhole = [&context](const std::string& path, const std::string& to) {
        return fetchFile(downloader, context.repairBaseUrls, "patches/Launcher/" + path, utf8ToWide(to),
                         signedDownloadCheck());
    };
    if (packet.size() < 5 || static_cast<unsigned char>(packet[4]) == 0) return;
    const std::string list = readString(packet, 5, static_cast<unsigned char>(packet[4]));
    const std::vector<std::wstring> entries = splitText(utf8ToWide(list), L"\n");

    std::string installed = readInstalledVersionIn(context.versionFolder);
    launcherState.setInstalledVersion(installed);
    std::int32_t installedNumber = 0;
    if (!parseVersionNumber(installed, installedNumber)) {
        writeDiagnostic("Installed version is not a number, assuming 1000: " + installed);
        installedNumber = 1000;
    }

    const std::wstring staging = folder + L"Downloads";
    fs::makeDirectory(staging);
    removeInstalledArchives(staging, installedNumber);

    // The target shown in the status line: the last entry that names a
    // number (a trailing line feed leaves an empty last entry).
    std::wstring target;
    for (auto it = entries.rbegin(); target.empty() && it != entries.rend(); ++it) {
        std::int32_t number = 0;
        if (readPatchNumber(*it, number)) target = std::to_wstring(number);
    }

    // Once a patch has failed, the installed version stays at the last one
    // applied before it: the rest of the list is still applied, but a version
    // past the failed patch would claim files that are not there.
    bool failed = false;
    for (const std::wstring& entry : entries) {
        std::int32_t number = 0;
        if (!readPatchNumber(entry, number)) {
            if (!entry.empty()) writeDiagnostic(L"Skipped patch entry that is not a number: " + entry);
            continue;
        }
        if (number <= installedNumber) continue;

        // Files and addresses are named by the number read, never by the
        // entry's own text with whatever else it holds.
        const std::wstring name = std::to_wstring(number);
        launcherState.phase = LauncherPhase::Patching;
        const std::wstring archive = staging + fs::kWideSeparator + name + L".zip";
        const std::string archivePath = "patches/" + wideToUtf8(name) + ".zip";
        launcherState.setStatusText(wideToUtf8(L"Downloading version: " + name + L"/" + target));
        // Only an archive fetched and accepted in this run is unpacked: a
        // download that failed, was refused or never ran (the game stayed
        // open) leaves nothing under the archive's name to fall back on.
        const auto& bases = context.patchBaseUrls;
        const bool fetched = context.guardRunningGame
                                 ? guardedFetch(downloader, bases, archivePath, archive, signedDownloadCheck())
                                 : fetchFile(downloader, bases, archivePath, archive, signedDownloadCheck());
        // After a failed patch no later archive may set the version file past it.
        const bool applied = fetched && extractArchive(wideToUtf8(archive), wideToUtf8(folder), !failed, fetchWhole);
        if (applied) fs::removeFile(archive);

        // Later entries are still compared against this one, as if it had
        // applied, so the list is worked through in one pass.
        installedNumber = number;
        if (!applied) {
            writeDiagnostic("Patch not applied: " + wideToUtf8(name) + " Installed version: " + installed);
            failed = true;
        } else if (!failed) {
            installed = wideToUtf8(name);
            launcherState.setInstalledVersion(installed);
        }
    }
    static constexpr char kIncomplete[] = "Update incomplete. Please try again later.";
    // The failure stays in view until a later list of this run reaches the
    // patch that failed first: the first entry past the version reached, as
    // every entry before it was applied or skipped.
    std::int32_t reached = 1000;  // what a version that is not a number counts as
    parseVersionNumber(installed, reached);
    if (failed) {
        std::int32_t failedNumber = 0;
        for (const std::wstring& entry : entries)
            if (readPatchNumber(entry, failedNumber) && failedNumber > reached) break;
        launcherState.notePatchFailure(kIncomplete, failedNumber);
    } else {
        launcherState.notePatchesReached(reached);
        launcherState.settleStatusText("Updated, There is no new patches.");
    }
}

}  // namespace starfell
