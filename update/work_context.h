// What the file work of a run needs to know: where the game is, where
// patches and repair copies come from, and whether a running game client is
// closed first. The launcher builds its own from its folder and its
// configuration; tests build one for a folder and a loopback store.
#pragma once
#include <string>
#include <vector>

#include "base/text_utils.h"

namespace starfell {

struct WorkContext {
    std::wstring gameFolder;  // ends with the separator
    // The same folder as the narrow path the first-line reader of
    // "version.dat" takes (on Windows the ANSI form the system gives).
    std::string versionFolder;
    std::vector<std::string> patchBaseUrls;   // each ends with '/', tried in order
    std::vector<std::string> repairBaseUrls;  // each ends with '/', tried in order
    // True: before a download replaces game files, a running game client is
    // closed with the player's consent (or that download is skipped). Tests
    // turn it off so that no process on the machine decides their outcome.
    bool guardRunningGame = true;
};

// A context for any folder (ending with its separator) with one store for
// both patches and repairs, and no guard: for tests and tools.
inline WorkContext workContextFor(const std::wstring& gameFolder, const std::string& storeUrl) {
    return WorkContext{gameFolder, wideToUtf8(gameFolder), {storeUrl}, {storeUrl}, false};
}

}  // namespace starfell
