// Verification and repair of the game folder against the server's file list:
// every listed file is hashed, wrong or missing ones are downloaded again and
// checked once more, and the run ends Ready or with a list of what is still wrong.
#include "integrity/verify_files.h"

#include <algorithm>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/file_utils.h"
#include "base/text_utils.h"
#include "core/launcher_state.h"
#include "core/packet.h"
#include "integrity/file_md5.h"
#include "update/download.h"
#include "update/archive_files.h"
#include "update/archive_paths.h"
#include "update/game_guard.h"
#include "update/signed_files.h"

namespace starfell {

namespace {

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Appended to a game file's name while its repair is downloaded beside it.
constexpr char kRepairSuffix[] = ".starfell-partial";

// True when the digest of the file is accepted: the digest text occurs in the
// expected text (lowercase digits only, so an uppercase digest never matches).
bool accepted(const std::wstring& localPath, const std::string& expectedDigests) {
    return expectedDigests.find(fileMd5(localPath)) != std::string::npos;
}

// Downloads a replacement beside `localPath` into the one folder that is to
// hold it, and puts it in place only when its digest is accepted: a failed or
// wrong download leaves the file as it was, and the path is never missing.
// Names outside ASCII go through the wide calls, which keep them intact.
bool repairFile(const WorkContext& context, const std::string& urlPath, const std::string& localPath,
                const std::string& expectedDigests) {
    const std::vector<std::string>& repairBaseUrls = context.repairBaseUrls;
    const std::string temporary = localPath + kRepairSuffix;
    if (isAscii(localPath)) {
        createParentDirectory(localPath);
    } else {
        const std::wstring folder = folderOfPath(utf8ToWide(temporary));
        if (folder.size() > 1) fs::makeDirectory(folder.substr(0, folder.size() - 1));
    }
    // Only a copy fetched and accepted in this run is moved into place.
    const bool fetched =
        context.guardRunningGame ? guardedFetch(downloader, repairBaseUrls, urlPath, utf8ToWide(temporary), signedDownloadCheck())
                : fetchFile(downloader, repairBaseUrls, urlPath, utf8ToWide(temporary), signedDownloadCheck());
    if (!fetched || !accepted(utf8ToWide(temporary), expectedDigests)) {
        fs::removeFile(utf8ToWide(temporary));
        return false;
    }
    if (!replaceFileKeepingAttributes(temporary, localPath)) return false;
    fs::flushFolder(folderOfPath(utf8ToWide(localPath)));
    return true;
}

// True when the file, its repair temporary or a folder on the way to it in
// the game folder is a symbolic link or junction: a repair would write, or
// change attributes, wherever it points.
bool reachesThroughLink(const std::string& folder, const std::string& relativePath) {
    std::vector<std::string> components;
    if (!splitEntryName(relativePath, false, components)) return true;
    std::string path = folder;
    for (const std::string& component : components) {
        path += component;
        if (archive_files::isLink(path)) return true;
        path += fs::kSeparator;
    }
    return archive_files::isLink(path.substr(0, path.size() - 1) + kRepairSuffix);
}

}  // namespace

std::optional<std::string> repairStorePath(const std::string& relativePath, const std::string& downloadName) {
    std::vector<std::string> pathParts, nameParts;
    if (!splitEntryName(relativePath, false, pathParts) || !splitEntryName(downloadName, false, nameParts) ||
        pathParts != nameParts)
        return std::nullopt;
    std::string storePath = "patches/Launcher";
    for (const std::string& part : nameParts) storePath += "/" + part;
    return storePath;
}

bool isUnsafeRelativePath(const std::string& relativePath) {
    std::vector<std::string> components;
    return !splitEntryName(relativePath, false, components);
}

std::string failureMessage(const std::vector<std::string>& failedNames, bool listCutShort) {
    std::string message;
    if (!failedNames.empty()) {
        message = "Missing/corrupted files (" + std::to_string(failedNames.size()) + "): ";
        const size_t shown = std::min<size_t>(failedNames.size(), 3);
        for (size_t i = 0; i < shown; ++i) {
            if (i > 0) message += ", ";
            message += failedNames[i];
        }
        if (failedNames.size() > shown) message += "... and " + std::to_string(failedNames.size() - shown) + " more";
        message += ". ";
    }
    if (listCutShort) message += "File list incomplete. ";
    return message + "Please restart launcher.";
}

void verifyGameFiles(const std::string& packet, const WorkContext& context) {
    const std::string folder = wideToUtf8(context.gameFolder);
    launcherState.setStatusText("Checking missing files.");
    launcherState.phase = LauncherPhase::Verifying;

    PacketReader reader(packet, 4);
    std::uint8_t count = 0;
    std::string header;
    reader.readByte(count);
    reader.readText(header);  // read past; its text is not used

    int ok = 0;
    std::vector<std::string> failedNames;
    int handled = 0;
    for (; handled < count; ++handled) {
        std::string relativePath, downloadName, expectedDigests;
        if (!reader.readText(relativePath) || !reader.readText(downloadName) || !reader.readText(expectedDigests))
            break;

        if (isUnsafeRelativePath(relativePath)) {
            writeDiagnostic("Refused unsafe path: " + relativePath);
            failedNames.push_back(relativePath);
            continue;
        }
        // The repair copy of a file lies at the file's own path below the
        // repair store, and its signature names that path: a list cannot
        // place a file signed for one path at another.
        const std::optional<std::string> urlPath = repairStorePath(relativePath, downloadName);
        if (!urlPath) {
            writeDiagnostic("Refused repair from another place: " + relativePath + " from " + downloadName);
            failedNames.push_back(relativePath);
            continue;
        }
        // Server paths may use either separator; use the platform's own.
        std::string nativePath = relativePath;
        std::replace(nativePath.begin(), nativePath.end(), '\\', fs::kSeparator);
        const std::string localPath = folder + nativePath;

        if (accepted(utf8ToWide(localPath), expectedDigests)) {
            ++ok;
            continue;
        }
        if (reachesThroughLink(folder, relativePath)) {
            writeDiagnostic("Refused unsafe path: " + relativePath);
            failedNames.push_back(relativePath);
            continue;
        }
        launcherState.setStatusText("Downloading " + relativePath + " file.");
        if (repairFile(context, *urlPath, localPath, expectedDigests)) {
            ++ok;
        } else {
            failedNames.push_back(relativePath);
            writeDiagnostic("MD5 mismatch for: " + relativePath);
        }
    }
    // A list cut short cannot vouch for the files it did not name; a list
    // without even its count leaves at least one unknown entry.
    const bool cutShort = !reader.ok();
    if (cutShort)
        writeDiagnostic("File list ends early, entries not read: " + std::to_string(std::max(count - handled, 1)));

    if (ok == count && !cutShort) {
        launcherState.phase = LauncherPhase::Ready;
        launcherState.settleStatusText("Ready.");
    } else {
        launcherState.setStatusText(failureMessage(failedNames, cutShort));
    }
}

}  // namespace starfell
