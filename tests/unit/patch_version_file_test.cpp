// The version file of a patch archive is written last and only for a patch
// that applied whole, so an interrupted or failed patch is fetched again; an
// archive left behind by a run that ended after unpacking it goes next time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "core/packet.h"
#include "test_support.h"
#include "update/patches.h"
#include "zip_builder.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;
using test::CapturedDiagnostics;
using test::ScratchFolder;
using test::ZipBuilder;

class VersionFileEntry : public ::testing::Test {
protected:
    void SetUp() override { test::writeFile(game("version.dat"), "1001"); }

    std::string archive(const std::string& bytes) {
        const std::string path = staging.narrow() + "patch.zip";
        test::writeFile(test::pathOf(path), bytes);
        return path;
    }
    fsys::path game(const std::string& relative) const { return game_.path() / test::pathOf(relative); }
    std::string gameFolder() const { return game_.narrow(); }
    std::string kept() const { return "Version file kept, patch not fully applied: " + gameFolder() + "version.dat\n"; }

    // An archive that carries its version file first and a damaged entry after it.
    std::string damagedPatch(const std::string& versionName) {
        const std::string content(5000, 'Q');
        std::string bytes = ZipBuilder()
                                .file(versionName, "1002")
                                .file("data/a.dat", "new a")
                                .file("b.dat", content, MZ_NO_COMPRESSION)
                                .bytes();
        bytes[bytes.find(content) + 2500] = 'X';  // CRC mismatch
        return archive(bytes);
    }

    ScratchFolder staging;
    ScratchFolder game_;
};

TEST_F(VersionFileEntry, FailedEntryAfterTheVersionFileKeepsTheOldVersion) {
    for (const std::string name : {"version.dat", "VERSION.DAT"}) {
        SCOPED_TRACE(name);
        CapturedDiagnostics diagnostics;
        EXPECT_FALSE(extractArchive(damagedPatch(name), gameFolder()));
        EXPECT_EQ(diagnostics.text(), "Failed to extract: " + gameFolder() + "b.dat\n" + kept() +
                                          "Extraction completed with errors\n");
        EXPECT_EQ(test::readFile(game("version.dat")), "1001");
        EXPECT_EQ(test::readFile(game("data/a.dat")), "new a");  // the rest is still applied
        EXPECT_FALSE(fsys::exists(game("b.dat")));
    }
}

TEST_F(VersionFileEntry, CleanPatchWritesItsVersionFileWhereverItStands) {
    const std::string path = archive(
        ZipBuilder().file("a.txt", "a").file("version.dat", "1002").file("sub/version.dat", "not ours").file("z.txt", "z").bytes());
    CapturedDiagnostics diagnostics;
    EXPECT_TRUE(extractArchive(path, gameFolder()));
    EXPECT_EQ(diagnostics.text(), "");
    EXPECT_EQ(test::readFile(game("version.dat")), "1002");
    EXPECT_EQ(test::readFile(game("sub/version.dat")), "not ours");
    EXPECT_EQ(test::readFile(game("z.txt")), "z");
}

TEST_F(VersionFileEntry, HeldBackVersionFileLeavesTheRestApplied) {
    const std::string path = archive(ZipBuilder().file("version.dat", "1003").file("c.txt", "sea").bytes());
    CapturedDiagnostics diagnostics;
    EXPECT_TRUE(extractArchive(path, gameFolder(), false));
    EXPECT_EQ(diagnostics.text(), kept());
    EXPECT_EQ(test::readFile(game("version.dat")), "1001");
    EXPECT_EQ(test::readFile(game("c.txt")), "sea");

    // Without a version file in the archive there is nothing to hold back or say.
    CapturedDiagnostics quiet;
    EXPECT_TRUE(extractArchive(archive(ZipBuilder().file("d.txt", "dee").bytes()), gameFolder(), false));
    EXPECT_EQ(quiet.text(), "");
}

// Version 1002 is installed and the list names nothing newer, so nothing is
// fetched; only archives of installed patches go, a failed 1003 stays.
TEST_F(VersionFileEntry, ArchivesOfInstalledPatchesAreRemovedOnTheNextList) {
    test::writeFile(game("version.dat"), "1002");
    fsys::create_directory(game("Downloads"));
    for (const char* name : {"999.zip", "1002.zip", "1003.zip", "notes.zip", "1001.zip.partial"})
        test::writeFile(game("Downloads") / name, "archive");
    std::string packet(4, '\0');
    writePacketType(packet, PacketType::PatchList);
    applyPatchList(packet + "\x04" "1002", workContextFor(game_.wide(), "http://127.0.0.1:9/"));

    std::vector<std::string> left;
    for (const auto& entry : fsys::directory_iterator(game("Downloads"))) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"1001.zip.partial", "1003.zip", "notes.zip"}));
}

}  // namespace
}  // namespace starfell
