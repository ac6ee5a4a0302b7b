// The content folder a server serves: news, numbered patch archives, the
// current launcher builds and the file list for verification.
#pragma once
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "server/packets.h"

namespace starfell::server {

// Result of reading a file list: entries, or a message naming the bad line.
struct FileListResult {
    std::vector<FileEntry> entries;
    std::string error;  // empty when the list is usable
};

class ContentFolder {
public:
    explicit ContentFolder(std::string root) : root_(std::move(root)) {}
    const std::string& root() const { return root_; }

    // Lines of news.txt (no line ends, a leading UTF-8 byte order mark dropped);
    // empty when the file is missing.
    std::vector<std::string> newsLines() const;

    // Numbers N of the archives patches/N.zip, ascending. Names that are not a
    // plain decimal number fitting a signed 32-bit integer (no sign, no leading
    // zero) are skipped and described in `skipped`.
    std::vector<std::string> patchNumbers(std::vector<std::string>* skipped = nullptr) const;

    // MD5 digests of the current builds in patches/Launcher/ (either file name).
    // Each digest is kept until its file's identity, size or change time
    // differs, so a greeting costs no hashing while the builds stay the same.
    std::vector<std::string> launcherDigests() const;

    // The Hello verdict for a launcher digest: "true" when it names a current
    // build or there is no build to compare with, else "false".
    std::string verdictFor(const std::string& digest) const;

    // files.txt; a missing file is an empty list.
    FileListResult fileList() const;

private:
    // What a build file looked like when its digest was taken.
    struct CachedDigest {
        unsigned long long device = 0, inode = 0;
        long long size = -1, changedNs = 0;
        std::string digest;
    };

    std::string root_;
    mutable std::mutex digestsMutex_;
    mutable std::map<std::string, CachedDigest> digests_;
};

// Parses the text of a file list (see `starfell-server --help`).
FileListResult parseFileList(const std::string& text);

// One line per entry in the files.txt format.
std::string formatFileList(const std::vector<FileEntry>& entries);

// Every regular file under `gameDir`, sorted by relative path, with its
// relative path as download name and its MD5 as the accepted digest.
FileListResult manifestOf(const std::string& gameDir);

// Why `entries` cannot travel in one FileCheck packet, or empty.
std::string fileListProblem(const std::vector<FileEntry>& entries);

// The header text of FileCheck packets.
extern const char* const FileCheckHeader;

}  // namespace starfell::server
