// Command-line driver for the update benchmarks (bench/extract, bench/download):
// runs one extraction or one download through the launcher's own code.
#include <cstdio>
#include <cstring>
#include <string>

#include "update/download.h"
#include "update/patches.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "extract") == 0)
        return starfell::extractArchive(argv[2], argv[3]) ? 0 : 1;
    if (argc == 4 && std::strcmp(argv[1], "download") == 0) {
        starfell::downloadFile(starfell::downloader, std::string(argv[2]), std::string(argv[3]));
        return starfell::downloader.percent == 100 ? 0 : 1;
    }
    std::fprintf(stderr, "usage: update_bench extract ARCHIVE FOLDER | download URL FILE\n");
    return 2;
}
