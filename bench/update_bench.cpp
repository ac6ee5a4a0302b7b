// Command-line driver for the update benchmarks (bench/extract, bench/download,
// bench/signature): runs one extraction, fetch or signature check through
// the launcher's own code.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "base/text_utils.h"
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

}  // namespace

int main(int argc, char** argv) {
    using namespace starfell;
    if (argc == 4 && std::strcmp(argv[1], "extract") == 0) return extractArchive(argv[2], argv[3]) ? 0 : 1;
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
    std::fprintf(stderr,
                 "usage: update_bench extract ARCHIVE FOLDER | fetch BASE PATH FILE [PUBLIC_KEY]"
                 " | check PUBLIC_KEY FILE STORE_PATH\n");
    return 2;
}
