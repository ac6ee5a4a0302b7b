// POSIX: the self-update's platform calls (folder listing, program start).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>

#include "update/self_update.h"
#include "update/self_update_platform.h"
#include "update/spawn_posix.h"
#include "update/text_utils.h"

namespace starfell {

namespace self_update_platform {

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
