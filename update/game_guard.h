// Guard around downloads that replace game files: a running game client is
// closed with the player's consent first, otherwise that one download is skipped.
#pragma once
#include <string>
#include <vector>

#include "update/download.h"

namespace starfell {

// The game client's image name, compared case-insensitively over the whole
// file name of each process's executable.
extern const char kGameImageName[];

// True when at least one process has the game client's image name.
bool isGameRunning();
// Terminates every such process without waiting for it to end; true when at
// least one termination succeeded.
bool closeGame();

// fetchFile behind the guard that first closes a running game client with the
// player's consent; false when skipped or failed.
bool guardedFetch(Downloader& downloader, const std::vector<std::string>& baseUrls, const std::string& relativePath,
                  const std::wstring& destination, const AcceptDownload& accept = {});

// The same, for any image name (platform files; also used by the tests, which
// must never touch a real game client).
bool isProcessRunning(const std::string& imageName);
bool terminateProcesses(const std::string& imageName);

// Whole-name comparison, ASCII letters case-insensitive.
bool sameImageName(const std::string& a, const std::string& b);
// The file name part of a path, split at both `/` and `\`.
std::string imageNameOfPath(const std::string& path);

}  // namespace starfell
