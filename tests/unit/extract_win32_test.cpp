// Windows: a protected game file is renamed over and keeps its attributes; a
// game file that stays locked is skipped with one line, the rest applied.
#include <windows.h>

#include <gtest/gtest.h>

#include "test_support.h"
#include "update/patches.h"
#include "zip_builder.h"

namespace starfell {
namespace {

TEST(ExtractProtected, ReadOnlyHiddenSystemFileIsReplacedAndKeepsItsAttributes) {
    test::ScratchFolder game;
    const std::wstring target = game.wide() + L"guarded.dat";
    test::writeFile(game.path() / "guarded.dat", "old");
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), kept));

    test::ScratchFolder staging;
    const std::string archive = staging.narrow() + "patch.zip";
    test::writeFile(test::pathOf(archive), test::ZipBuilder().file("guarded.dat", "new").bytes());
    test::CapturedDiagnostics diagnostics;
    EXPECT_TRUE(extractArchive(archive, game.narrow()));
    EXPECT_EQ(diagnostics.text(), "");
    EXPECT_EQ(test::readFile(game.path() / "guarded.dat"), "new");
    EXPECT_EQ(GetFileAttributesW(target.c_str()) & kept, kept);
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);  // so the scratch folder can go
}

TEST(ExtractLocked, LockedFileIsReportedOnceAndSkipped) {
    test::ScratchFolder game;
    test::writeFile(game.path() / "locked.dat", "in use");
    HANDLE lock = CreateFileW((game.wide() + L"locked.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    test::ScratchFolder staging;
    const std::string archive = staging.narrow() + "patch.zip";
    test::writeFile(test::pathOf(archive), test::ZipBuilder().file("locked.dat", "new").file("other.dat", "ok").bytes());
    const DWORD started = GetTickCount();
    test::CapturedDiagnostics diagnostics;
    EXPECT_FALSE(extractArchive(archive, game.narrow()));
    EXPECT_GE(GetTickCount() - started, 250u);  // three attempts, 100 ms apart
    // A rename over a file open without delete sharing is refused as access denied.
    EXPECT_EQ(diagnostics.text(), "Failed to delete file: " + game.narrow() + "locked.dat Error: 5\n"
                                  "Extraction completed with errors\n");
    CloseHandle(lock);
    EXPECT_EQ(test::readFile(game.path() / "locked.dat"), "in use");
    EXPECT_EQ(test::readFile(game.path() / "other.dat"), "ok");
}

}  // namespace
}  // namespace starfell
