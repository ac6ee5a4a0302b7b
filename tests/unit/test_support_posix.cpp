// POSIX part of the test helpers: minisign runs as it is.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "test_support.h"

namespace starfell::test {

std::string minisignSignature(const std::string& name, const std::string& bytes, bool legacy) {
    char folder[] = "/tmp/starfell-sign-XXXXXX";
    if (!mkdtemp(folder)) return std::string();
    const std::string file = std::string(folder) + "/" + name;
    std::ofstream(file, std::ios::binary) << bytes;
    const std::string command = std::string("minisign -S") + (legacy ? " -l" : "") + " -s '" +
                                STARFELL_TEST_KEY_FOLDER "/test.key' -m '" + file + "' >/dev/null";
    std::string signature;
    if (std::system(command.c_str()) == 0) {
        std::ostringstream text;
        text << std::ifstream(file + ".minisig", std::ios::binary).rdbuf();
        signature = text.str();
    }
    std::remove((file + ".minisig").c_str());
    std::remove(file.c_str());
    rmdir(folder);
    return signature;
}

std::wstring fileFailingToRead() { return L"/proc/self/mem"; }

}  // namespace starfell::test
