// Shared part of the game-process guard: the player's consent and the decision
// to download or skip.
#include "update/game_guard.h"

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/message_box.h"

namespace starfell {

const char kGameImageName[] = "Conquer.exe";

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// True when downloading may go ahead: no client runs, or the player agreed
// and every client is gone after a second's pause.
bool clearedToDownload() {
    if (!isGameRunning()) return true;
    const int answer = showMessageBox(
        "The game is currently running.\nDo you want to close it to proceed with the update?", "Warning",
        kMessageBoxYesNo | kMessageBoxIconExclamation);
    if (answer == kMessageBoxResultYes) {
        if (closeGame()) {
            fs::sleepMilliseconds(1000);
            if (!isGameRunning()) return true;
        }
        showMessageBox("Failed to close the game.\nPlease close it manually.", "Error",
                       kMessageBoxOk | kMessageBoxIconHand);
    } else {
        showMessageBox("Update cancelled.\nPlease close the game and try again.", "Cancelled",
                       kMessageBoxOk | kMessageBoxIconAsterisk);
    }
    return false;
}

}  // namespace

bool sameImageName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

std::string imageNameOfPath(const std::string& path) {
    const auto separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool isGameRunning() { return isProcessRunning(kGameImageName); }
bool closeGame() { return terminateProcesses(kGameImageName); }

bool guardedFetch(Downloader& downloader, const std::vector<std::string>& baseUrls, const std::string& relativePath,
                  const std::wstring& destination, const AcceptDownload& accept) {
    if (!clearedToDownload()) {
        writeDiagnostic(L"Cannot proceed with update. Game is still running.");
        return false;
    }
    return fetchFile(downloader, baseUrls, relativePath, destination, accept);
}

}  // namespace starfell
