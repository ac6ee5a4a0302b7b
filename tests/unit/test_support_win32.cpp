// Windows part of the test helpers: the tests run under Wine, whose start /unix
// runs the system's minisign on a file written through drive Z: (the root).
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "test_support.h"

namespace starfell::test {

std::string minisignSignature(const std::string& name, const std::string& bytes, bool legacy) {
    static std::atomic<int> counter{0};
    const std::string unixFolder =
        "/tmp/starfell-sign-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
    std::string folder = "Z:" + unixFolder;
    for (char& c : folder)
        if (c == '/') c = '\\';
    if (!CreateDirectoryA(folder.c_str(), nullptr)) return std::string();
    const std::string file = folder + "\\" + name;
    std::ofstream(file, std::ios::binary) << bytes;
    const std::string command = std::string("start /wait /unix /usr/bin/minisign -S") + (legacy ? " -l" : "") +
                                " -s " STARFELL_TEST_KEY_FOLDER "/test.key -m " + unixFolder + "/" + name + " >NUL";
    // start /unix does not wait for a Unix program: the signature is complete
    // once its four lines are there.
    std::string signature;
    if (std::system(command.c_str()) == 0) {
        for (int attempt = 0; attempt < 1000; ++attempt) {
            std::ostringstream text;
            text << std::ifstream(file + ".minisig", std::ios::binary).rdbuf();
            const std::string found = text.str();
            if (std::count(found.begin(), found.end(), '\n') == 4) {
                signature = found;
                break;
            }
            Sleep(10);
        }
    }
    std::remove((file + ".minisig").c_str());
    std::remove(file.c_str());
    RemoveDirectoryA(folder.c_str());
    return signature;
}

std::wstring fileFailingToRead() { return L"Z:\\proc\\self\\mem"; }

}  // namespace starfell::test
