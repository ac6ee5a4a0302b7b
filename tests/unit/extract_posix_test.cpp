// Extraction never writes through a symbolic link, wherever it points, and a
// write that runs out of room leaves the game folder as it was.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

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


// Holds this process's file size limit low, as a full disk would: writes past
// it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit previous_{};
    sighandler_t previousHandler_;
};

TEST(ExtractOutOfRoom, EntryThatDoesNotFitKeepsTheOldFileAndLeavesNoPart) {
    test::ScratchFolder game;
    test::ScratchFolder staging;
    test::writeFile(game.path() / "big.dat", "old big file");
    const std::string big = test::patternBytes(400000);
    const std::string archive = staging.narrow() + "patch.zip";
    test::writeFile(archive, test::ZipBuilder().file("big.dat", big).file("small.txt", "fits").bytes());

    test::CapturedDiagnostics diagnostics;
    bool extracted = true;
    {
        FileSizeLimit limit(64 * 1024);
        extracted = extractArchive(archive, game.narrow());
    }
    EXPECT_FALSE(extracted);
    EXPECT_EQ(diagnostics.text(), "Failed to extract: " + game.narrow() + "big.dat\nExtraction completed with errors\n");
    EXPECT_EQ(test::readFile(game.path() / "big.dat"), "old big file");
    EXPECT_EQ(test::readFile(game.path() / "small.txt"), "fits");
    EXPECT_EQ(std::distance(fsys::directory_iterator(game.path()), fsys::directory_iterator()), 2);

    EXPECT_TRUE(extractArchive(archive, game.narrow()));
    EXPECT_EQ(test::readFile(game.path() / "big.dat"), big);
}

}  // namespace
}  // namespace starfell
