// Runs one file verification over the named files of a folder, as a FileCheck
// packet with the given digests would, and prints the resulting status line.
// Driver of bench/verify. Usage: verify_bench <folder> <relative path>=<digest>...
#include <cstdio>
#include <string>

#include "core/launcher_state.h"
#include "integrity/verify_files.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 257) {
        std::fprintf(stderr, "usage: %s <folder> <relative path>=<digest>...\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    if (folder.empty() || folder.back() != '/') folder += '/';

    std::string packet("\xEB\x03\x00\x00", 4);
    packet += static_cast<char>(argc - 2);
    packet += '\0';  // empty header
    auto text = [&](const std::string& value) {
        packet += static_cast<char>(value.size() & 0xFF);
        packet += value.substr(0, 255);
    };
    for (int i = 2; i < argc; ++i) {
        const std::string entry = argv[i];
        const auto equals = entry.rfind('=');
        if (equals == std::string::npos) {
            std::fprintf(stderr, "not <path>=<digest>: %s\n", argv[i]);
            return 2;
        }
        text(entry.substr(0, equals));
        text(entry.substr(0, equals));
        text(entry.substr(equals + 1));
    }
    // Nothing should need repair; a repair would go to a closed port and fail.
    starfell::verifyGameFiles(packet, starfell::workContextFor(starfell::utf8ToWide(folder), "http://127.0.0.1:9/"));
    const std::string status = starfell::launcherState.statusText();
    std::printf("%s\n", status.c_str());
    return status == "Ready." ? 0 : 1;
}
