// File helpers: deletion with retries, parent directories, the launcher folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/file_platform.h"
#include "base/file_utils.h"
#include "base/text_utils.h"
#include "test_support.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;
using test::CapturedDiagnostics;
using test::ScratchFolder;

TEST(DeleteFileWithRetries, MissingFileIsAlreadyGoneAndSilent) {
    ScratchFolder folder;
    CapturedDiagnostics diagnostics;
    EXPECT_TRUE(deleteFileWithRetries(folder.wide() + L"missing.bin"));
    EXPECT_TRUE(deleteFileWithRetries(folder.narrow() + "missing.bin"));
    EXPECT_EQ(diagnostics.text(), "");
}

TEST(DeleteFileWithRetries, ReadOnlyFileIsClearedAndDeletedInBothWidths) {
    ScratchFolder folder;
    const std::string narrowPath = folder.narrow() + "narrow.dat";
    const std::wstring widePath = folder.wide() + L"wide \u00E9.dat";
    test::writeFile(test::pathOf(narrowPath), "x");
    test::writeFile(test::pathOf(widePath), "y");
    ASSERT_TRUE(fs::setAttributes(narrowPath, fs::kReadOnly));
    ASSERT_TRUE(fs::setAttributes(widePath, fs::kReadOnly));
    ASSERT_TRUE(fs::getAttributes(narrowPath) & fs::kReadOnly);

    CapturedDiagnostics diagnostics;
    EXPECT_TRUE(deleteFileWithRetries(narrowPath));
    EXPECT_TRUE(deleteFileWithRetries(widePath));
    EXPECT_FALSE(fsys::exists(test::pathOf(narrowPath)));
    EXPECT_FALSE(fsys::exists(test::pathOf(widePath)));
    EXPECT_EQ(diagnostics.text(), "");
}

TEST(DeleteFileWithRetries, DirectoryIsReportedWithItsErrorCode) {
    // A directory is no file: the delete fails with a code that is neither
    // "locked" nor "missing", so the plain failure line names it.
    ScratchFolder folder;
    const std::string path = folder.narrow() + "sub";
    fsys::create_directory(test::pathOf(path));
    CapturedDiagnostics diagnostics;
    EXPECT_FALSE(deleteFileWithRetries(path));
    EXPECT_TRUE(fsys::exists(test::pathOf(path)));
    EXPECT_NE(diagnostics.text().find("Failed to delete"), std::string::npos) << diagnostics.text();
}

TEST(CreateParentDirectory, CreatesExactlyOneLevel) {
    ScratchFolder folder;
    EXPECT_TRUE(createParentDirectory(folder.narrow() + "file.txt"));  // parent exists
    EXPECT_TRUE(createParentDirectory(folder.narrow() + "one/file.txt"));
    EXPECT_TRUE(fsys::is_directory(folder.path() / "one"));
    EXPECT_TRUE(createParentDirectory(folder.narrow() + "one/file.txt"));  // exists now
    EXPECT_FALSE(createParentDirectory(folder.narrow() + "two/levels/file.txt"));
    EXPECT_FALSE(fsys::exists(folder.path() / "two"));
}

TEST(LauncherFolder, KeepsThePathUpToTheLastSeparator) {
    EXPECT_EQ(folderOfPath(L"D:\\StarfellLauncher.exe"), L"D:\\");
    EXPECT_EQ(folderOfPath(L"C:\\Games\\Client\\L.exe"), L"C:\\Games\\Client\\");
    EXPECT_EQ(folderOfPath(L"/opt/game/StarfellLauncher"), L"/opt/game/");
    EXPECT_EQ(folderOfPath(L"C:\\mixed/sep\\L.exe"), L"C:\\mixed/sep\\");
    EXPECT_EQ(folderOfPath(L"L.exe"), L"");
    EXPECT_EQ(folderFromPieces("C:\\Games\\Client\\L.exe", '\\'), "C:\\Games\\Client\\");
    EXPECT_EQ(folderFromPieces("D:\\L.exe", '\\'), "D:\\");
    EXPECT_EQ(folderFromPieces("L.exe", '\\'), "");
    EXPECT_EQ(folderFromPieces("/opt/game/L", '/'), "/opt/game/");
}

TEST(LauncherFolder, IsTheRunningExecutablesFolderInBothWidths) {
    const std::wstring wide = launcherFolder();
    const std::string narrow = launcherFolderNarrow();
    ASSERT_FALSE(wide.empty());
    EXPECT_EQ(wide.back(), fs::kWideSeparator);
    EXPECT_EQ(narrow.back(), fs::kSeparator);
    EXPECT_EQ(wideToUtf8(wide), narrow);  // the test folder is plain ASCII
    EXPECT_TRUE(fsys::exists(test::pathOf(fs::modulePath())));
    EXPECT_EQ(test::pathOf(fs::modulePath()).parent_path(), test::pathOf(wide.substr(0, wide.size() - 1)));
}

}  // namespace
}  // namespace starfell
