// Linux: the game client started with posix_spawn by its path in the game
// folder, a Windows client through wine; the current directory is inherited.
#include "screen/game_launch_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"
#include "base/file_utils.h"
#include "screen/game_launch.h"
#include "update/game_guard.h"

namespace starfell {
namespace {

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool startsWithMz(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) return false;
    char signature[2] = {};
    const bool read = std::fread(signature, 1, 2, file) == 2;
    std::fclose(file);
    return read && signature[0] == 'M' && signature[1] == 'Z';
}

}  // namespace

std::optional<std::string> findGameClient(const std::string& gameFolder) {
    if (!gameFolder.empty() && isRegularFile(gameFolder + kGameImageName)) return gameFolder + kGameImageName;
    return std::nullopt;
}

SpawnRequest planClientSpawn(const std::string& clientPath) {
    SpawnRequest spawn;
    if (startsWithMz(clientPath)) {
        // Wine finds the program by the path it is given, whatever the current
        // directory; the Windows program sees its own command line from it.
        spawn.program = "wine";
        spawn.searchPath = true;
        spawn.argv = {"wine", clientPath, kGameClientArgument};
    } else {
        spawn.program = clientPath;
        spawn.argv = {kGameImageName, kGameClientArgument};
    }
    return spawn;
}

bool startGameClient() {
    const std::optional<std::string> client = findGameClient(launcherFolderNarrow());
    if (!client) {
        writeDiagnostic(std::string("Game client not found: ") + kGameImageName);
        return false;
    }
    const SpawnRequest spawn = planClientSpawn(*client);
    pid_t child = 0;
    const int result = spawnProgram(spawn, child);
    if (result != 0) {
        writeDiagnostic("Cannot start the game client: " + spawn.program + " Error: " + std::to_string(result));
        return false;
    }
    return true;
}

void pauseBetweenClients() { usleep(500 * 1000); }

}  // namespace starfell
