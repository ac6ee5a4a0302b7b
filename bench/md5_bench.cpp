// Benchmark driver: prints fileMd5 of every file named on the command line,
// in md5sum's format, so the script can compare the two tools' output too.
#include <cstdio>
#include <string>

#include "base/text_utils.h"
#include "integrity/file_md5.h"

int main(int argc, char** argv) {
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string digest = starfell::fileMd5(starfell::utf8ToWide(argv[i]));
        if (digest == "None") ++failures;
        std::printf("%s  %s\n", digest.c_str(), argv[i]);
    }
    return failures == 0 ? 0 : 1;
}
