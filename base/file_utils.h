// File helpers of the update pipeline: the launcher's folder, deleting or
// replacing a file that may be write-protected or briefly locked, creating a
// file's directory.
#pragma once
#include <string>

namespace starfell {

// The executable's folder, ending with its separator; empty on failure.
std::wstring launcherFolder();
std::string launcherFolderNarrow();

// The part of `path` up to and including its last `\` or `/`; empty without one.
std::wstring folderOfPath(const std::wstring& path);
// Builds the narrow folder the way launcherFolderNarrow does: every piece of
// `path` split at `separator` but the last, each followed by the separator.
std::string folderFromPieces(const std::string& path, char separator);

// True when the file is gone afterwards. Clears read-only/hidden/system first;
// a locked file gets three attempts 100 ms apart.
bool deleteFileWithRetries(const std::wstring& path);
bool deleteFileWithRetries(const std::string& path);

// Puts the finished file `replacement` (UTF-8 path) in the place of `target`
// in one step, written through to the disk first, so `target` is never
// missing. A replaced file's read-only, hidden and system attributes stay; a
// locked one gets three attempts 100 ms apart. False after one diagnostic
// line, with `replacement` removed and `target` as it was. With `flushed`
// the caller has already written `replacement` through to the disk.
bool replaceFileKeepingAttributes(const std::string& replacement, const std::string& target, bool flushed = false);

// Creates the one directory that is to hold `path`; true when it exists afterwards.
bool createParentDirectory(const std::string& path);

}  // namespace starfell
