// Extraction never writes through a symbolic link, wherever it points.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"
#include "update/patches.h"
#include "zip_builder.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;

TEST(ExtractLinks, LinkedFoldersAndFilesAreRefused) {
    test::ScratchFolder outside;
    test::ScratchFolder game;
    test::writeFile(outside.path() / "victim.txt", "untouched");
    fsys::create_directory_symlink(outside.path(), game.path() / "linked");
    fsys::create_symlink(outside.path() / "victim.txt", game.path() / "victim.txt");

    test::ScratchFolder staging;
    const std::string archive = staging.narrow() + "patch.zip";
    test::writeFile(archive, test::ZipBuilder()
                                 .file("linked/planted.txt", "x")
                                 .file("linked/deeper/planted.txt", "x")
                                 .file("victim.txt", "overwritten")
                                 .directory("linked/newdir/")
                                 .file("normal.txt", "ok")
                                 .bytes());
    test::CapturedDiagnostics diagnostics;
    EXPECT_FALSE(extractArchive(archive, game.narrow()));
    EXPECT_EQ(diagnostics.text(),
              "Refused unsafe entry: linked/planted.txt\n"
              "Refused unsafe entry: linked/deeper/planted.txt\n"
              "Refused unsafe entry: victim.txt\n"
              "Refused unsafe entry: linked/newdir/\n"
              "Extraction completed with errors\n");
    EXPECT_EQ(test::readFile(outside.path() / "victim.txt"), "untouched");
    EXPECT_EQ(std::distance(fsys::directory_iterator(outside.path()), fsys::directory_iterator()), 1);
    EXPECT_EQ(test::readFile(game.path() / "normal.txt"), "ok");
}

}  // namespace
}  // namespace starfell
