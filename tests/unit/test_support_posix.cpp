// POSIX part of the test helpers: minisign runs as it is.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "test_support.h"

namespace starfell::test {

std::string minisignSignature(const std::string& storePath, const std::string& bytes) {
    char folder[] = "/tmp/starfell-sign-XXXXXX";
    if (!mkdtemp(folder)) return std::string();
    const std::string file = std::string(folder) + "/" + storePath;
    const std::string command = "mkdir -p \"$(dirname '" + file + "')\" && printf '' >/dev/null";
    std::string signature;
    if (std::system(command.c_str()) == 0) {
        std::ofstream(file, std::ios::binary) << bytes;
        const std::string sign = "bash '" STARFELL_SIGN_STORE "' -s '" STARFELL_TEST_KEY_FOLDER "/test.key' '" +
                                 std::string(folder) + "' >/dev/null";
        if (std::system(sign.c_str()) == 0) {
            std::ostringstream text;
            text << std::ifstream(file + ".minisig", std::ios::binary).rdbuf();
            signature = text.str();
        }
    }
    std::system(("rm -rf '" + std::string(folder) + "'").c_str());
    return signature;
}

std::wstring fileFailingToRead() { return L"/proc/self/mem"; }

}  // namespace starfell::test
