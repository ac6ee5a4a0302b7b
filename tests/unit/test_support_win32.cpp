// Windows part of the test helpers: the tests run under Wine, whose start /unix
// runs the system's minisign on a file written through drive Z: (the root).
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "base/text_utils.h"
#include "test_support.h"

namespace starfell::test {

std::string minisignSignature(const std::string& storePath, const std::string& bytes) {
    // A folder of its own: Wine's small process ids come back run after run,
    // and the folders of earlier runs stay (see below), so a name already
    // taken is passed over instead of signing into a stranger's folder.
    static std::atomic<int> counter{0};
    std::string unixFolder, folder;
    for (;;) {
        unixFolder = "/tmp/starfell-sign-" + std::to_string(GetCurrentProcessId()) + "-" +
                     std::to_string(GetTickCount64()) + "-" + std::to_string(counter++);
        folder = "Z:" + unixFolder;
        for (char& c : folder)
            if (c == '/') c = '\\';
        if (CreateDirectoryA(folder.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
    }
    // Wide calls, so a UTF-8 store path keeps its name on the disk.
    std::wstring file = utf8ToWide(folder);
    for (size_t start = 0, end; (end = storePath.find('/', start)) != std::string::npos; start = end + 1) {
        file += L"\\" + utf8ToWide(storePath.substr(start, end - start));
        CreateDirectoryW(file.c_str(), nullptr);
    }
    file += L"\\" + utf8ToWide(storePath.substr(storePath.rfind('/') + 1));
    if (std::FILE* out = _wfopen(file.c_str(), L"wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
    const std::string command = "start /wait /unix /bin/bash " STARFELL_SIGN_STORE " -s " STARFELL_TEST_KEY_FOLDER
                                "/test.key " + unixFolder + " >NUL";
    // start /unix does not wait for a Unix program: the signature is complete
    // once its four lines are there.
    std::string signature;
    if (std::system(command.c_str()) == 0) {
        for (int attempt = 0; attempt < 1000; ++attempt) {
            std::string found;
            if (std::FILE* in = _wfopen((file + L".minisig").c_str(), L"rb")) {
                char piece[4096];
                found.assign(piece, std::fread(piece, 1, sizeof piece, in));
                std::fclose(in);
            }
            if (std::count(found.begin(), found.end(), '\n') == 4) {
                signature = found;
                break;
            }
            Sleep(10);
        }
    }
    // The folder is left to the system's temporary-file cleaning: Wine may
    // still be writing into it, and it is small.
    return signature;
}

std::wstring fileFailingToRead() { return L"Z:\\proc\\self\\mem"; }

}  // namespace starfell::test
