// Helpers shared by the unit tests.
#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>

#include <gtest/gtest.h>
#include <sodium.h>

#include "base/text_utils.h"
#include "core/launcher_state.h"
#include "integrity/file_md5.h"

namespace starfell::test {

namespace fsys = std::filesystem;

ScratchFolder::ScratchFolder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fsys::temp_directory_path() /
            ("starfell-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fsys::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    // Read-only files must be writable again before a Windows folder can go.
    for (auto it = fsys::recursive_directory_iterator(path_, ignored); it != fsys::recursive_directory_iterator();
         it.increment(ignored)) {
        fsys::permissions(it->path(), fsys::perms::owner_write, fsys::perm_options::add, ignored);
    }
    fsys::remove_all(path_, ignored);
}

std::wstring ScratchFolder::wide() const {
    return utf8ToWide(narrow());
}

std::string ScratchFolder::narrow() const {
    auto text = path_.u8string();
    std::string folder(text.begin(), text.end());
    folder += static_cast<char>(fsys::path::preferred_separator);
    return folder;
}

fsys::path pathOf(const std::wstring& wide) { return pathOf(wideToUtf8(wide)); }
fsys::path pathOf(const std::string& utf8) { return fsys::u8path(utf8); }
std::wstring wideOf(const fsys::path& path) {
    const auto text = path.u8string();
    return utf8ToWide(std::string(text.begin(), text.end()));
}

void writeFile(const fsys::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const fsys::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string patternBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    return bytes;
}

std::vector<std::string> namesIn(const fsys::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fsys::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string md5Of(const std::string& bytes) {
    ScratchFolder folder;
    writeFile(folder.path() / "bytes", bytes);
    return fileMd5(wideOf(folder.path() / "bytes"));
}

bool isDigestOf(const FileDigest* digest, const std::string& bytes) {
    FileDigest expected;
    crypto_generichash(expected.data(), expected.size(), reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size(), nullptr, 0);
    return digest && *digest == expected;
}

CapturedDiagnostics::CapturedDiagnostics()
    : oldNarrow_(std::cerr.rdbuf(narrow_.rdbuf())), oldWide_(std::wcerr.rdbuf(wide_.rdbuf())) {}

CapturedDiagnostics::~CapturedDiagnostics() {
    std::cerr.rdbuf(oldNarrow_);
    std::wcerr.rdbuf(oldWide_);
}

std::string CapturedDiagnostics::text() const { return narrow_.str() + wideToUtf8(wide_.str()); }

}  // namespace starfell::test

namespace starfell::test {
namespace {

// Every test starts from a fresh launcher state, as a launcher run would,
// whether the tests run one per process or many in one.
class FreshLauncherState : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { launcherState.reset(); }
};

const bool freshLauncherStateRegistered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshLauncherState);
    return true;
}();

}  // namespace
}  // namespace starfell::test
