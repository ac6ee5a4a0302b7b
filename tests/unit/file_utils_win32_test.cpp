// Windows only: a file held open without delete sharing.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>

#include "base/file_utils.h"
#include "base/text_utils.h"
#include "test_support.h"

namespace starfell {
namespace {

TEST(DeleteFileWithRetries, LockedFileGetsThreeAttemptsThenFails) {
    test::ScratchFolder folder;
    const std::wstring path = folder.wide() + L"locked.bin";
    test::writeFile(test::pathOf(path), "busy");
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);

    test::CapturedDiagnostics diagnostics;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(deleteFileWithRetries(path));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    CloseHandle(handle);

    EXPECT_GE(elapsed, std::chrono::milliseconds(280));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
    EXPECT_EQ(diagnostics.text(), "Failed to delete file after retries: " + wideToUtf8(path) + "\n");
    EXPECT_TRUE(std::filesystem::exists(test::pathOf(path)));
}

TEST(DeleteFileWithRetries, HiddenAndSystemFilesAreCleared) {
    test::ScratchFolder folder;
    const std::string path = folder.narrow() + "hidden.bin";
    test::writeFile(test::pathOf(path), "h");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_TRUE(deleteFileWithRetries(path));
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace starfell
