// Patch lists from the server: which archives to fetch, fetching them through
// the game guard, and unpacking them over the game folder with miniz.
#include "update/patches.h"

#include <miniz.h>

#include <cstdint>
#include <vector>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/file_utils.h"
#include "base/text_utils.h"
#include "core/launcher_state.h"
#include "core/packet.h"
#include "update/archive_files.h"

#include "update/archive_view.h"
#include "update/extraction.h"
#include "update/download.h"
#include "update/game_guard.h"
#include "update/signed_files.h"
#include "update/version_store.h"

namespace starfell {

namespace {

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
    if (!extraction.finish()) failed = true;
    if (!versionEntries.empty()) {
        if (failed || !writeVersionFile) {
            writeDiagnostic("Version file kept, patch not fully applied: " + folder + "version.dat");
        } else {
            for (mz_uint index : versionEntries)
                if (!extraction.extractEntry(index)) failed = true;
            if (!extraction.finish()) failed = true;
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
        launcherState.setPhase(LauncherPhase::Patching);
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
