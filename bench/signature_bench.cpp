// Benchmark driver: checks FILE against FILE.minisig with the key of a minisign
// .pub file, through the same function the launcher uses; prints the verdict.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "base/text_utils.h"
#include "update/signature.h"

namespace {

std::string readText(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PUBLIC_KEY_FILE FILE\n", argv[0]);
        return 2;
    }
    std::istringstream pub(readText(argv[1]));
    std::string comment, keyLine;
    std::getline(pub, comment);
    std::getline(pub, keyLine);
    starfell::minisign::PublicKey key;
    if (!starfell::minisign::parsePublicKey(keyLine, key)) {
        std::fprintf(stderr, "not a minisign public key: %s\n", argv[1]);
        return 2;
    }
    const std::string file = argv[2];
    const std::string name = file.substr(file.find_last_of('/') + 1);
    const starfell::SignatureVerdict verdict = starfell::checkSignatureWithKey(
        key, starfell::utf8ToWide(file), readText((file + ".minisig").c_str()), name);
    std::printf("%s\n", starfell::describe(verdict));
    return verdict == starfell::SignatureVerdict::Good ? 0 : 1;
}
