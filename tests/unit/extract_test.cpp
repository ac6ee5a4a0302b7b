// Archive extraction over a game folder: nested folders, directory entries,
// protected files, unsafe names, damaged archives and size limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "base/file_platform.h"
#include "base/text_utils.h"
#include "test_support.h"
#include "update/patches.h"
#include "zip_builder.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;
using test::CapturedDiagnostics;
using test::ScratchFolder;
using test::ZipBuilder;

class Extract : public ::testing::Test {
protected:
    // Writes the archive next to (not inside) the game folder.
    std::string archive(const std::string& bytes) {
        const std::string path = staging.narrow() + "patch.zip";
        test::writeFile(test::pathOf(path), bytes);
        return path;
    }
    fsys::path game(const std::string& relative) const { return game_.path() / test::pathOf(relative); }
    std::string gameFolder() const { return game_.narrow(); }

    ScratchFolder staging;
    ScratchFolder game_;
};

TEST_F(Extract, NestedFilesAndDirectoryEntriesAreCreated) {
    const std::string big = test::patternBytes(300000);
    const std::string path = archive(ZipBuilder()
                                         .file("readme.txt", "hello")
                                         .file("data/new/file.bin", big)
                                         .directory("logs/empty/")
                                         .file("stored.dat", "raw", MZ_NO_COMPRESSION)
                                         .file("zero.dat", "")
                                         .bytes());
    CapturedDiagnostics diagnostics;
    EXPECT_TRUE(extractArchive(path, gameFolder()));
    EXPECT_EQ(diagnostics.text(), "");
    EXPECT_EQ(test::readFile(game("readme.txt")), "hello");
    EXPECT_EQ(test::readFile(game("data/new/file.bin")), big);
    EXPECT_TRUE(fsys::is_directory(game("logs/empty")));
    EXPECT_EQ(test::readFile(game("stored.dat")), "raw");
    EXPECT_TRUE(fsys::exists(game("zero.dat")));
    EXPECT_EQ(fsys::file_size(game("zero.dat")), 0u);
}

TEST_F(Extract, DestinationWithoutTrailingSeparatorAndNonAsciiNames) {
    const fsys::path folder = game_.path() / fsys::u8path("Spiel \xC3\x96rdner \xE6\xB8\xB8\xE6\x88\x8F");
    fsys::create_directory(folder);
    const auto text = folder.u8string();
    const std::string path = archive(ZipBuilder().file("\xC3\xA9t\xC3\xA9/d\xC3\xA9j\xC3\xA0.txt", "accent").bytes());
    EXPECT_TRUE(extractArchive(path, std::string(text.begin(), text.end())));
    EXPECT_EQ(test::readFile(folder / fsys::u8path("\xC3\xA9t\xC3\xA9/d\xC3\xA9j\xC3\xA0.txt")), "accent");
}

TEST_F(Extract, ReplacedReadOnlyFileIsReplacedAndStaysReadOnly) {
    test::writeFile(game("client.ini"), "old settings");
    const std::wstring target = test::wideOf(game("client.ini"));
    ASSERT_TRUE(fs::setAttributes(target, fs::kReadOnly));
    test::writeFile(game("plain.dat"), "old");

    const std::string path = archive(ZipBuilder().file("client.ini", "new settings").file("plain.dat", "new").bytes());
    EXPECT_TRUE(extractArchive(path, gameFolder()));
    EXPECT_EQ(test::readFile(game("client.ini")), "new settings");
    EXPECT_TRUE(fs::getAttributes(target) & fs::kReadOnly);
    EXPECT_EQ(test::readFile(game("plain.dat")), "new");
    EXPECT_FALSE(fs::getAttributes(test::wideOf(game("plain.dat"))) & fs::kReadOnly);
}

TEST_F(Extract, UnsafeEntriesAreRefusedAndTheRestApplied) {
    const std::string path = archive(ZipBuilder()
                                         .file("../evil.txt", "x")
                                         .file("/tmp/evil", "x")
                                         .file("C:\\evil", "x")
                                         .file("a/../../evil", "x")
                                         .file("inner\\..\\..\\evil2", "x")
                                         .file("COM1.dll", "x")
                                         .file("good/file.txt", "kept")
                                         .bytes());
    CapturedDiagnostics diagnostics;
    EXPECT_FALSE(extractArchive(path, gameFolder()));
    const std::string lines = diagnostics.text();
    for (const char* name : {"../evil.txt", "/tmp/evil", "C:\\evil", "a/../../evil", "COM1.dll"})
        EXPECT_NE(lines.find(std::string("Refused unsafe entry: ") + name + "\n"), std::string::npos) << name;
    EXPECT_NE(lines.find("Extraction completed with errors"), std::string::npos);
    EXPECT_EQ(test::readFile(game("good/file.txt")), "kept");
    EXPECT_FALSE(fsys::exists(game_.path().parent_path() / "evil.txt"));
    EXPECT_FALSE(fsys::exists(game_.path().parent_path() / "evil"));
    EXPECT_FALSE(fsys::exists(game_.path().parent_path() / "evil2"));
    EXPECT_FALSE(fsys::exists(game("a")));  // nothing created for a refused entry
}

TEST_F(Extract, ArchivesThatCannotBeOpenedAreReported) {
    const std::string valid = ZipBuilder().file("a.txt", "a").bytes();
    for (const std::string& bytes : {std::string("this is not an archive"), std::string(),
                                     valid.substr(0, valid.size() - 10)}) {
        const std::string path = archive(bytes);
        CapturedDiagnostics diagnostics;
        EXPECT_FALSE(extractArchive(path, gameFolder()));
        EXPECT_EQ(diagnostics.text(), "Failed to open archive: " + path + "\n");
    }
    CapturedDiagnostics diagnostics;
    EXPECT_FALSE(extractArchive(staging.narrow() + "missing.zip", gameFolder()));
    EXPECT_EQ(diagnostics.text(), "Failed to open archive: " + staging.narrow() + "missing.zip\n");
    EXPECT_TRUE(fsys::is_empty(game_.path()));
}

TEST_F(Extract, DamagedEntryLeavesNoHalfWrittenFile) {
    const std::string content(5000, 'Q');
    std::string bytes = ZipBuilder().file("damaged.bin", content, MZ_NO_COMPRESSION).file("fine.txt", "ok").bytes();
    bytes[bytes.find(content) + 2500] = 'X';  // the stored data no longer matches its CRC
    const std::string path = archive(bytes);

    CapturedDiagnostics diagnostics;
    EXPECT_FALSE(extractArchive(path, gameFolder()));
    EXPECT_EQ(diagnostics.text(), "Failed to extract: " + gameFolder() + "damaged.bin\nExtraction completed with errors\n");
    EXPECT_FALSE(fsys::exists(game("damaged.bin")));
    EXPECT_EQ(test::readFile(game("fine.txt")), "ok");
}

TEST_F(Extract, EntryUnpackingPastItsDeclaredSizeIsStopped) {
    const std::string path = archive(ZipBuilder()
                                         .understated("bomb.bin", std::string(4 << 20, '\0'), 1000)
                                         .file("fine.txt", "ok")
                                         .bytes());
    CapturedDiagnostics diagnostics;
    EXPECT_FALSE(extractArchive(path, gameFolder()));
    EXPECT_NE(diagnostics.text().find("Failed to extract: " + gameFolder() + "bomb.bin"), std::string::npos);
    EXPECT_FALSE(fsys::exists(game("bomb.bin")));
    EXPECT_EQ(test::readFile(game("fine.txt")), "ok");
}


TEST_F(Extract, NamesDifferingOnlyByCaseEndAsOneFileWithTheLastContent) {
    const std::string path = archive(ZipBuilder()
                                         .file("Data/Readme.txt", "first")
                                         .file("DATA/README.TXT", "second")
                                         .file("data/other.bin", "other")
                                         .bytes());
    CapturedDiagnostics diagnostics;
    EXPECT_TRUE(extractArchive(path, gameFolder()));
    EXPECT_EQ(diagnostics.text(), "");
    std::vector<std::string> top;
    for (const auto& entry : fsys::directory_iterator(game_.path())) top.push_back(entry.path().filename().string());
    EXPECT_EQ(top, std::vector<std::string>{"Data"});
    std::vector<std::string> inside;
    for (const auto& entry : fsys::directory_iterator(game("Data"))) inside.push_back(entry.path().filename().string());
    std::sort(inside.begin(), inside.end());
    EXPECT_EQ(inside, (std::vector<std::string>{"Readme.txt", "other.bin"}));
    EXPECT_EQ(test::readFile(game("Data/Readme.txt")), "second");
}

TEST_F(Extract, FailedEntryKeepsTheFileItWouldReplace) {
    const std::string content(5000, 'Q');
    std::string bytes = ZipBuilder().file("game.dat", content, MZ_NO_COMPRESSION).file("empty.bin", "").bytes();
    bytes[bytes.find(content) + 100] = 'X';  // CRC mismatch
    test::writeFile(game("game.dat"), "the old, good game data");
    test::writeFile(game("game.dat.starfell-partial"), "left by an interrupted run");
    const std::wstring target = test::wideOf(game("game.dat"));
    ASSERT_TRUE(fs::setAttributes(target, fs::kReadOnly));

    CapturedDiagnostics diagnostics;
    EXPECT_FALSE(extractArchive(archive(bytes), gameFolder()));
    EXPECT_EQ(diagnostics.text(), "Failed to extract: " + gameFolder() + "game.dat\nExtraction completed with errors\n");
    EXPECT_EQ(test::readFile(game("game.dat")), "the old, good game data");
    EXPECT_TRUE(fs::getAttributes(target) & fs::kReadOnly);
    EXPECT_FALSE(fsys::exists(game("game.dat.starfell-partial")));

    // Mended, the same archive replaces it and leaves nothing beside it.
    bytes[bytes.find(content.substr(0, 100) + "X") + 100] = 'Q';
    EXPECT_TRUE(extractArchive(archive(bytes), gameFolder()));
    EXPECT_EQ(test::readFile(game("game.dat")), content);
    EXPECT_TRUE(fs::getAttributes(target) & fs::kReadOnly);
    EXPECT_EQ(std::distance(fsys::directory_iterator(game_.path()), fsys::directory_iterator()), 2);
}

}  // namespace
}  // namespace starfell
