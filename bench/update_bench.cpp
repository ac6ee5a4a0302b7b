// Command-line driver for the update benchmarks (bench/extract, bench/download):
// runs one extraction or one download through the launcher's own code.
#include <cstdio>
#include <cstring>
#include <string>

#include "base/text_utils.h"
#include "update/download.h"
#include "update/patches.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "extract") == 0)
        return starfell::extractArchive(argv[2], argv[3]) ? 0 : 1;
    if (argc == 4 && std::strcmp(argv[1], "download") == 0) {
        starfell::downloadFile(starfell::downloader, std::string(argv[2]), std::string(argv[3]));
        return starfell::downloadPercent() == 100 ? 0 : 1;
    }
    // One fetch with resume: BASE is the store's root, PATH the file below it.
    if (argc == 5 && std::strcmp(argv[1], "fetch") == 0)
        return starfell::fetchFile(starfell::downloader, {argv[2]}, argv[3], starfell::utf8ToWide(argv[4])) ? 0 : 1;
    std::fprintf(stderr, "usage: update_bench extract ARCHIVE FOLDER | download URL FILE | fetch BASE PATH FILE\n");
    return 2;
}
