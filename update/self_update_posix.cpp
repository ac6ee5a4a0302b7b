// POSIX: the self-update's platform calls (folder listing, the swap of builds,
// program start).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "base/spawn_posix.h"
#include "base/text_utils.h"
#include "update/self_update.h"
#include "update/self_update_platform.h"

namespace starfell {

namespace self_update_platform {

namespace {

bool syncPath(const std::string& path, int flags) {
    const int descriptor = open(path.c_str(), flags | O_CLOEXEC);
    if (descriptor < 0) return false;
    const bool synced = fsync(descriptor) == 0;
    close(descriptor);
    return synced;
}

// The folder entry of a rename is durable only once the folder itself is synced.
void syncFolderOf(const std::string& path) {
    const auto separator = path.find_last_of('/');
    syncPath(separator == std::string::npos ? "." : path.substr(0, separator + 1), O_RDONLY | O_DIRECTORY);
}

}  // namespace

const char kExecutableSuffix[] = "";

bool isPlausibleExecutable(const std::wstring& path) {
    std::FILE* file = std::fopen(wideToUtf8(path).c_str(), "rbe");
    if (!file) return false;
    char signature[4] = {};
    const bool plausible = std::fread(signature, 1, 4, file) == 4 && std::memcmp(signature, "\x7f" "ELF", 4) == 0;
    std::fclose(file);
    return plausible;
}

bool makeExecutable(const std::wstring& path) { return chmod(wideToUtf8(path).c_str(), 0755) == 0; }

bool flushToDisk(const std::wstring& path) { return syncPath(wideToUtf8(path), O_RDONLY); }

std::uint32_t swapInBuild(const std::wstring& incoming, const std::wstring& current, const std::wstring& old) {
    const std::string from = wideToUtf8(incoming), to = wideToUtf8(current), kept = wideToUtf8(old);
    // The running build gets a second name first, so `current` never stops
    // naming a whole build: the rename below replaces it in one step.
    unlink(kept.c_str());
    if (link(to.c_str(), kept.c_str()) != 0 && errno != ENOENT) return static_cast<std::uint32_t>(errno);
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        unlink(kept.c_str());
        return static_cast<std::uint32_t>(error);
    }
    syncFolderOf(to);
    return 0;
}

bool restoreBuild(const std::wstring& old, const std::wstring& current) {
    const std::string to = wideToUtf8(current);
    if (std::rename(wideToUtf8(old).c_str(), to.c_str()) != 0) return false;
    syncFolderOf(to);
    return true;
}

bool isRunningProgram(const std::wstring& path) {
    struct stat candidate {}, running {};
    if (stat(wideToUtf8(path).c_str(), &candidate) != 0 || stat("/proc/self/exe", &running) != 0) return false;
    return candidate.st_dev == running.st_dev && candidate.st_ino == running.st_ino;
}

bool startProgram(const std::wstring& path) {
    const std::string program = wideToUtf8(path);
    pid_t child = 0;
    const int result = spawnProgram({program, {program}, false, false}, child);
    return result == 0;
}

void writeOutputLine(const std::wstring& line) { std::cout << wideToUtf8(line) << std::endl; }

}  // namespace self_update_platform

std::vector<std::wstring> listExecutables(const std::wstring& folder) {
    std::vector<std::wstring> paths;
    const std::string narrowFolder = wideToUtf8(folder);
    DIR* directory = opendir(narrowFolder.c_str());
    if (!directory) return paths;
    while (dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (lstat((narrowFolder + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        const bool exeName = name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0;
        if (exeName || (info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH))) paths.push_back(folder + utf8ToWide(name));
    }
    closedir(directory);
    return paths;
}

}  // namespace starfell
