// File verification and repair against a real HTTP store on loopback: what is
// downloaded, what the run reports, and what it refuses to touch.
#include "loopback_store.h"

#include <gtest/gtest.h>

#include <chrono>

#include "core/launcher_state.h"
#include "integrity/verify_files.h"
#include "test_support.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;

using test::md5Of;

struct Entry {
    std::string relativePath, downloadName, expectedDigests;
};

std::string fileCheckPacket(const std::vector<Entry>& entries, const std::string& header = "files") {
    std::string packet("\xEB\x03\x00\x00", 4);
    packet += static_cast<char>(entries.size());
    auto text = [&](const std::string& value) { packet += static_cast<char>(value.size()) + value; };
    text(header);
    for (const auto& entry : entries) {
        text(entry.relativePath);
        text(entry.downloadName);
        text(entry.expectedDigests);
    }
    return packet;
}

class Verification : public ::testing::Test {
protected:
    // Without the running-game check: a game client elsewhere on the machine
    // must not turn these runs into questions to the player.
    void run(const std::string& packet) {
        verifyGameFiles(packet, workContextFor(folder.wide(), store.url()));
    }
    fsys::path at(const std::string& relative) const { return test::pathOf(folder.narrow() + relative); }
    test::ScratchFolder folder;
    test::LoopbackStore store{"patches/Launcher/"};
};

TEST_F(Verification, EmptyListIsReady) {
    launcherState.phase = LauncherPhase::Patching;
    run(fileCheckPacket({}));
    EXPECT_EQ(launcherState.phase.load(), LauncherPhase::Ready);
    EXPECT_EQ(launcherState.statusText(), "Ready.");
    EXPECT_TRUE(store.requests().empty());
}

TEST_F(Verification, RepairsWrongAndMissingFiles) {
    const std::string a = test::patternBytes(3000), b = "fresh b", c = "fresh c", good = "already right";
    fsys::create_directories(at("data"));
    test::writeFile(at("a.dat"), "stale");
    test::writeFile(at("data/b.dat"), "");
    test::writeFile(at("good.dat"), good);
    store.put("a.dat", a);
    store.put("data/b.dat", b);
    store.put("c.dat", c);
    test::CapturedDiagnostics diagnostics;
    run(fileCheckPacket({{"a.dat", "a.dat", md5Of(a)},
                         {"good.dat", "good.dat", md5Of(good)},
                         {"data\\b.dat", "data\\b.dat", md5Of(b)},  // Windows separators
                         {"c.dat", "c.dat", md5Of(c)},
                         // Listed again: read after its repair, not from before it.
                         {"data/b.dat", "data/b.dat", md5Of(b)}}));
    EXPECT_EQ(store.requests(), (std::vector<std::string>{"a.dat", "data/b.dat", "c.dat"}));
    EXPECT_EQ(test::readFile(at("a.dat")), a);
    EXPECT_EQ(test::readFile(at("data/b.dat")), b);
    EXPECT_EQ(test::readFile(at("c.dat")), c);
    EXPECT_EQ(launcherState.phase.load(), LauncherPhase::Ready);
    EXPECT_EQ(launcherState.statusText(), "Ready.");
    EXPECT_EQ(diagnostics.text().find("MD5 mismatch"), std::string::npos) << diagnostics.text();
}

TEST_F(Verification, FilesThatStayWrongAreListed) {
    std::vector<Entry> entries;
    for (const char* name : {"a", "b", "c", "d", "e"}) {
        test::writeFile(at(name), "wrong");
        store.put(name, "still wrong");
        entries.push_back({name, name, md5Of("right")});
    }
    test::CapturedDiagnostics diagnostics;
    run(fileCheckPacket(entries));
    EXPECT_EQ(launcherState.phase.load(), LauncherPhase::Verifying);
    EXPECT_EQ(launcherState.statusText(), "Missing/corrupted files (5): a, b, c... and 2 more. Please restart launcher.");
    EXPECT_NE(diagnostics.text().find("MD5 mismatch for: e\n"), std::string::npos);
    EXPECT_EQ(store.requests().size(), 5u);
}

TEST_F(Verification, OnlyOneMissingFolderLevelIsCreated) {
    store.put("one/x.dat", "content");
    store.put("two/levels/x.dat", "content");
    run(fileCheckPacket({{"one/x.dat", "one/x.dat", md5Of("content")},
                         {"two/levels/x.dat", "two\\levels\\x.dat", md5Of("content")}}));
    EXPECT_EQ(test::readFile(at("one/x.dat")), "content");
    EXPECT_FALSE(fsys::exists(at("two")));
    EXPECT_EQ(launcherState.statusText(), "Missing/corrupted files (1): two/levels/x.dat. Please restart launcher.");
}

TEST_F(Verification, DigestTextMatching) {
    test::writeFile(at("upper.dat"), "same");
    test::writeFile(at("either.dat"), "second");
    store.put("upper.dat", "same");
    std::string upper = md5Of("same");
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    run(fileCheckPacket({{"upper.dat", "upper.dat", upper},
                         {"either.dat", "either.dat", md5Of("first") + "|" + md5Of("second")}}));
    // The uppercase one is fetched and still rejected; either digest of two is accepted as it is.
    EXPECT_EQ(store.requests(), std::vector<std::string>{"upper.dat"});
    EXPECT_EQ(launcherState.statusText(), "Missing/corrupted files (1): upper.dat. Please restart launcher.");
}

TEST_F(Verification, HeaderHasNoEffect) {
    test::writeFile(at("f.dat"), "ok");
    for (const std::string& header : {std::string(), std::string("anything at all"), std::string(255, 'h'), std::string("\0x", 2)}) {
        run(fileCheckPacket({{"f.dat", "f.dat", md5Of("ok")}}, header));
        EXPECT_EQ(launcherState.statusText(), "Ready.") << header.size();
    }
    EXPECT_TRUE(store.requests().empty());
}

TEST_F(Verification, UnsafePathsAreRefused) {
    store.put("evil", "payload");
    const std::string unsafe[] = {"../evil.dat", "/tmp/evil.dat", "\\evil.dat", "C:\\evil.dat", "c:evil.dat", "x:y.dat",
                                  "a\\..\\..\\evil.dat", "a/../evil.dat", "a/.. ./evil.dat", ""};
    std::vector<Entry> entries;
    for (const auto& path : unsafe) entries.push_back({path, "evil", md5Of("payload")});
    test::CapturedDiagnostics diagnostics;
    run(fileCheckPacket(entries));
    EXPECT_TRUE(store.requests().empty());
    EXPECT_EQ(launcherState.phase.load(), LauncherPhase::Verifying);
    EXPECT_NE(launcherState.statusText().find("(10): ../evil.dat, /tmp/evil.dat, \\evil.dat... and 7 more"),
              std::string::npos);
    EXPECT_NE(diagnostics.text().find("Refused unsafe path: a/../evil.dat\n"), std::string::npos);
    EXPECT_FALSE(fsys::exists(folder.path().parent_path() / "evil.dat"));
}

TEST_F(Verification, RepairsNeverGoThroughLinks) {
    // A folder link and a file link in the game folder, both pointing outside it.
    test::ScratchFolder outside;
    test::writeFile(outside.path() / "x.dat", "outside");
    test::writeFile(outside.path() / "kept.dat", "outside");
    fsys::permissions(outside.path() / "kept.dat", fsys::perms::owner_read);
    std::error_code linked;
    fsys::create_directory_symlink(outside.path(), at("data"), linked);
    if (linked) GTEST_SKIP() << "no symbolic links here";
    fsys::create_symlink(outside.path() / "kept.dat", at("link.dat"));
    test::writeFile(at("plain.dat"), "stale");
    fsys::create_symlink(outside.path() / "x.dat", at("plain.dat.starfell-partial"));
    for (const char* name : {"data/x.dat", "link.dat", "plain.dat"}) store.put(name, "payload");
    test::CapturedDiagnostics diagnostics;
    run(fileCheckPacket({{"data/x.dat", "data/x.dat", md5Of("payload")},
                         {"link.dat", "link.dat", md5Of("payload")},
                         {"plain.dat", "plain.dat", md5Of("payload")}}));
    EXPECT_TRUE(store.requests().empty());
    EXPECT_NE(diagnostics.text().find("Refused unsafe path: data/x.dat\n"), std::string::npos);
    EXPECT_NE(diagnostics.text().find("Refused unsafe path: link.dat\n"), std::string::npos);
    EXPECT_EQ(test::readFile(outside.path() / "x.dat"), "outside");
    EXPECT_EQ(test::readFile(outside.path() / "kept.dat"), "outside");
    EXPECT_EQ(fsys::status(outside.path() / "kept.dat").permissions() & fsys::perms::all, fsys::perms::owner_read);
    EXPECT_EQ(launcherState.statusText(), "Missing/corrupted files (3): data/x.dat, link.dat, plain.dat. Please restart launcher.");
}

TEST_F(Verification, UnsignedOrMissignedRepairsAreNotUsed) {
    test::writeFile(at("a.dat"), "stale");
    store.putUnsigned("a.dat", "fresh a");
    store.put("b.dat", "fresh b");
    store.putUnsigned("c.dat", "fresh c");
    store.putUnsigned("c.dat.minisig", test::minisignSignature("patches/Launcher/b.dat", "fresh c"));
    test::writeFile(at("d.dat"), "stale");
    test::CapturedDiagnostics diagnostics;
    // d.dat asks for b.dat's signed copy: a list cannot move a signed file elsewhere.
    run(fileCheckPacket({{"a.dat", "a.dat", md5Of("fresh a")},
                         {"b.dat", "b.dat", md5Of("fresh b")},
                         {"c.dat", "c.dat", md5Of("fresh c")},
                         {"d.dat", "b.dat", md5Of("fresh b")}}));
    EXPECT_EQ(test::readFile(at("a.dat")), "stale");
    EXPECT_EQ(test::readFile(at("b.dat")), "fresh b");
    EXPECT_FALSE(fsys::exists(at("c.dat")));
    EXPECT_FALSE(fsys::exists(at("a.dat.starfell-partial")));
    EXPECT_FALSE(fsys::exists(at("c.dat.starfell-partial")));
    const std::string text = diagnostics.text();
    EXPECT_NE(text.find("Signature check failed for: " + store.url() + "patches/Launcher/a.dat (no signature)\n"),
              std::string::npos);
    EXPECT_NE(text.find("Signature check failed for: " + store.url() +
                        "patches/Launcher/c.dat (signature names another file)\n"),
              std::string::npos);
    EXPECT_NE(text.find("Refused repair from another place: d.dat from b.dat\n"), std::string::npos);
    EXPECT_EQ(test::readFile(at("d.dat")), "stale");
    EXPECT_EQ(launcherState.statusText(),
              "Missing/corrupted files (3): a.dat, c.dat, d.dat. Please restart launcher.");
}

TEST_F(Verification, PacketCutShortIsNeverReady) {
    test::writeFile(at("f.dat"), "ok");
    std::string packet = fileCheckPacket(
        {{"f.dat", "f.dat", md5Of("ok")}, {"../x.dat", "x.dat", md5Of("ok")}, {"g.dat", "g.dat", md5Of("ok")}});
    packet[4] = 4;                           // promises a fourth entry
    packet.resize(packet.size() - 10);       // and cuts the third one's digest
    test::CapturedDiagnostics diagnostics;
    run(packet);
    EXPECT_EQ(launcherState.phase.load(), LauncherPhase::Verifying);
    // Only the entry that was read and failed is counted and named.
    EXPECT_EQ(launcherState.statusText(),
              "Missing/corrupted files (1): ../x.dat. File list incomplete. Please restart launcher.");
    EXPECT_NE(diagnostics.text().find("File list ends early, entries not read: 2"), std::string::npos);
    EXPECT_TRUE(store.requests().empty());

    run(std::string("\xEB\x03\x00\x00", 4));  // not even a count
    EXPECT_EQ(launcherState.phase.load(), LauncherPhase::Verifying);
    EXPECT_EQ(launcherState.statusText(), "File list incomplete. Please restart launcher.");
}

TEST_F(Verification, NonAsciiPathsAreRepaired) {
    store.put("donn\xC3\xA9" "es/\xC3\xA9t\xC3\xA9.dat", "accented");
    run(fileCheckPacket({{"donn\xC3\xA9" "es/\xC3\xA9t\xC3\xA9.dat", "donn\xC3\xA9" "es/\xC3\xA9t\xC3\xA9.dat",
                          md5Of("accented")}}));
    EXPECT_EQ(test::readFile(at("donn\xC3\xA9" "es/\xC3\xA9t\xC3\xA9.dat")), "accented");
    EXPECT_EQ(launcherState.statusText(), "Ready.");
}

}  // namespace
}  // namespace starfell
