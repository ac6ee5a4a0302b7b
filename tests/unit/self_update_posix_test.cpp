// Which files count as executables for the old-build cleanup on Linux.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "base/text_utils.h"
#include "test_support.h"
#include "update/self_update.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;

TEST(ListExecutables, ExeNamesAndExecutableFilesButNoFoldersOrLinks) {
    test::ScratchFolder folder;
    test::writeFile(folder.path() / "notes_OLDVersion.exe", "x");
    test::writeFile(folder.path() / "OLDVersion.txt", "x");
    test::writeFile(folder.path() / "StarfellLauncher_OLDVersion", "\x7f" "ELF");
    chmod((folder.path() / "StarfellLauncher_OLDVersion").c_str(), 0755);
    fsys::create_directory(folder.path() / "x_OLDVersion.exe");
    fsys::create_symlink(folder.path() / "notes_OLDVersion.exe", folder.path() / "link_OLDVersion.exe");

    std::vector<std::wstring> found = listExecutables(folder.wide());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::wstring>{folder.wide() + L"StarfellLauncher_OLDVersion",
                                                 folder.wide() + L"notes_OLDVersion.exe"}));
    EXPECT_TRUE(listExecutables(folder.wide() + L"missing/").empty());
}

TEST(LauncherBuildNames, HaveNoSuffixOnLinux) {
    EXPECT_EQ(launcherBuildName(), L"StarfellLauncher");
    EXPECT_EQ(oldLauncherBuildName(), L"StarfellLauncher_OLDVersion");
}

}  // namespace
}  // namespace starfell
