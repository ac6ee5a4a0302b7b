// Which files count as executables for the old-build cleanup on Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "test_support.h"
#include "update/self_update.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;

TEST(ListExecutables, ExeFilesOnlyInTheFolderItself) {
    test::ScratchFolder folder;
    test::writeFile(folder.path() / "notes_OLDVersion.exe", "x");
    test::writeFile(folder.path() / "OLDVersion.txt", "x");
    test::writeFile(folder.path() / L"\u00E9t\u00E9.exe", "x");
    fsys::create_directory(folder.path() / "x_OLDVersion.exe");
    fsys::create_directory(folder.path() / "sub");
    test::writeFile(folder.path() / "sub" / "inner.exe", "x");

    std::vector<std::wstring> found = listExecutables(folder.wide());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::wstring>{folder.wide() + L"notes_OLDVersion.exe",
                                                 folder.wide() + L"\u00E9t\u00E9.exe"}));
    EXPECT_EQ(launcherBuildName(), L"StarfellLauncher.exe");
    EXPECT_EQ(oldLauncherBuildName(), L"StarfellLauncher_OLDVersion.exe");
}

}  // namespace
}  // namespace starfell
