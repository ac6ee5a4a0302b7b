// Command-line driver for the update benchmarks (bench/extract, bench/download,
// bench/signature, bench/update): runs one extraction, fetch, signature
// check or whole update through the launcher's own code.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/text_utils.h"
#include "core/launcher_state.h"
#include "integrity/verify_files.h"
#include "update/download.h"
#include "update/patches.h"
#include "update/signature.h"
#include "update/signed_files.h"

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The key of a minisign .pub file (its second line); false when it is none.
bool readPublicKey(const std::string& path, starfell::minisign::PublicKey& key) {
    std::istringstream pub(readText(path));
    std::string comment, keyLine;
    std::getline(pub, comment);
    std::getline(pub, keyLine);
    if (starfell::minisign::parsePublicKey(keyLine, key)) return true;
    std::fprintf(stderr, "not a minisign public key: %s\n", path.c_str());
    return false;
}

// A packet of `type` holding `texts` as length-prefixed texts after `count`
// (when not negative).
std::string packetOf(const char* type, int count, const std::vector<std::string>& texts) {
    std::string packet(type, 4);
    if (count >= 0) packet += static_cast<char>(count);
    for (const std::string& text : texts) packet += static_cast<char>(text.size() & 0xFF) + text.substr(0, 255);
    return packet;
}

// An update as the launcher runs it: the patch list applied from the store at
// BASE over FOLDER, then a file check of PATH=DIGEST entries repaired from it.
int update(const std::string& base, const std::string& folder, const std::string& patches, int count, char** files) {
    using namespace starfell;
    const WorkContext context = workContextFor(utf8ToWide(folder), base);
    applyPatchList(packetOf("\xEA\x03\x00\x00", -1, {patches}), context);
    std::vector<std::string> texts{""};
    for (int i = 0; i < count; ++i) {
        const std::string entry = files[i];
        const std::string path = entry.substr(0, entry.rfind('='));
        texts.insert(texts.end(), {path, path, entry.substr(entry.rfind('=') + 1)});
    }
    verifyGameFiles(packetOf("\xEB\x03\x00\x00", count, texts), context);
    const std::string status = launcherState.statusText();
    std::printf("%s\n", status.c_str());
    return status == "Ready." ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace starfell;
    // The extraction's own time is printed too: under Wine the process's time
    // also holds Wine's start, which a player on Windows never waits for.
    if (argc == 4 && std::strcmp(argv[1], "extract") == 0) {
        const auto started = std::chrono::steady_clock::now();
        const bool extracted = extractArchive(argv[2], argv[3]);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        std::printf("extracted in %.3f s\n", took.count());
        return extracted ? 0 : 1;
    }
    // One fetch with resume: BASE is the store's root, PATH the file below it;
    // with a key, the file's signature is fetched and checked as the launcher does.
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "fetch") == 0) {
        minisign::PublicKey key;
        if (argc == 6 && !readPublicKey(argv[5], key)) return 2;
        const AcceptDownload check = argc == 6 ? signedDownloadCheckWithKey(&key) : AcceptDownload{};
        return fetchFile(downloader, {argv[2]}, argv[3], utf8ToWide(argv[4]), check) ? 0 : 1;
    }
    // The check alone, of FILE against FILE.minisig, signed for STORE_PATH.
    if (argc == 5 && std::strcmp(argv[1], "check") == 0) {
        minisign::PublicKey key;
        if (!readPublicKey(argv[2], key)) return 2;
        const std::string file = argv[3];
        const SignatureVerdict verdict = checkSignatureWithKey(key, utf8ToWide(file), readText(file + ".minisig"),
                                                               argv[4]);
        std::printf("%s\n", describe(verdict));
        return verdict == SignatureVerdict::Good ? 0 : 1;
    }
    if (argc >= 5 && argc <= 259 && std::strcmp(argv[1], "update") == 0)
        return update(argv[2], argv[3], argv[4], argc - 5, argv + 5);
    std::fprintf(stderr,
                 "usage: update_bench extract ARCHIVE FOLDER | fetch BASE PATH FILE [PUBLIC_KEY]"
                 " | check PUBLIC_KEY FILE STORE_PATH | update BASE FOLDER PATCH_LIST [PATH=DIGEST...]\n");
    return 2;
}
