// Extraction never writes through a symbolic link, wherever it points, a
// write that runs out of room leaves the game folder as it was, and archives
// that Info-ZIP's tools make or accept unpack as `unzip -o` unpacks them.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <tuple>

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

// Every file below `folder` with its size and a hash of its content.
// Each file's size, a hash of its bytes, and whether its owner may run it.
std::map<std::string, std::tuple<size_t, size_t, bool>> filesBelow(const fsys::path& folder) {
    std::map<std::string, std::tuple<size_t, size_t, bool>> files;
    for (const auto& entry : fsys::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        const std::string content = test::readFile(entry.path());
        const bool runs = (entry.status().permissions() & fsys::perms::owner_exec) != fsys::perms::none;
        files[fsys::relative(entry.path(), folder).string()] = {content.size(), std::hash<std::string>()(content), runs};
    }
    return files;
}

void setLittle32(std::string& bytes, size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// Archives made by `zip`, then given a stub in front or an end record that
// understates the directory's size, unpack to what `unzip -o` makes of them,
// a native client keeping the execute bit its entry gives it;
// those that unzip refuses (a size reaching past the end record) are refused.
TEST(ExtractOtherTools, StubInFrontAndMisstatedDirectorySizeUnpackLikeUnzip) {
    test::ScratchFolder work;
    fsys::create_directories(work.path() / "in" / "data");
    test::writeFile(work.path() / "in" / "data" / "world.map", test::patternBytes(70000));
    test::writeFile(work.path() / "in" / "readme.txt", "hello");
    test::writeFile(work.path() / "in" / "client", "#!/bin/sh\n");
    fsys::permissions(work.path() / "in" / "client", fsys::perms::owner_all | fsys::perms::group_read);
    const std::string zipped = work.narrow() + "made.zip";
    ASSERT_EQ(std::system(("cd '" + work.narrow() + "in' && zip -qr '" + zipped + "' data readme.txt client").c_str()), 0);
    const std::string made = test::readFile(zipped);
    const size_t end = made.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);

    std::string understated = made, overstated = made;
    setLittle32(understated, end + 12, 46);
    setLittle32(overstated, end + 12, 100000);
    std::string hopeless = "#!/bin/sh\necho stub\nexit 0\n" + overstated;
    const std::map<std::string, std::string> archives = {
        {"stub", "#!/bin/sh\necho self-extracting stub\nexit 0\n" + std::string(3000, '\x90') + made},
        {"understated", understated},
        {"overstated", overstated},
        {"hopeless", hopeless},
    };
    for (const auto& [name, bytes] : archives) {
        SCOPED_TRACE(name);
        const std::string archive = work.narrow() + name + ".zip";
        test::writeFile(archive, bytes);
        const fsys::path byUnzip = work.path() / ("unzip-" + name), byUs = work.path() / ("ours-" + name);
        fsys::create_directories(byUnzip);
        fsys::create_directories(byUs);
        const int unzipped =
            std::system(("unzip -qq -o '" + archive + "' -d '" + byUnzip.string() + "' >/dev/null 2>&1").c_str());
        test::CapturedDiagnostics diagnostics;
        const bool ours = extractArchive(archive, byUs.string() + "/");
        if (name == "overstated" || name == "hopeless") {
            EXPECT_NE(unzipped, 0);
            EXPECT_FALSE(ours);
            EXPECT_EQ(diagnostics.text(), "Failed to open archive: " + archive + "\n");
            EXPECT_TRUE(fsys::is_empty(byUs));
            continue;
        }
        EXPECT_TRUE(ours) << diagnostics.text();
        EXPECT_EQ(filesBelow(byUs), filesBelow(byUnzip));
        EXPECT_EQ(filesBelow(byUs).size(), 3u);
        EXPECT_TRUE(std::get<2>(filesBelow(byUs)["client"]));
        EXPECT_FALSE(std::get<2>(filesBelow(byUs)["readme.txt"]));
    }
}

}  // namespace
}  // namespace starfell
