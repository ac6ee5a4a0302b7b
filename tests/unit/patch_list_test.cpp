// A patch list whose earlier patch cannot be fetched: later patches still
// apply, but the version file stays behind the failed one until a later list
// fetches it, and the status line says so until then. Real downloads from a
// loopback HTTP store.
#include "loopback_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "core/launcher_state.h"
#include "core/packet.h"
#include "test_support.h"
#include "integrity/verify_files.h"
#include "update/patches.h"
#include "zip_builder.h"

namespace starfell {
namespace {

using test::CapturedDiagnostics;
using test::ScratchFolder;
using test::ZipBuilder;

std::string patchList(const std::string& numbers) {
    std::string packet(4, '\0');
    writePacketType(packet, PacketType::PatchList);
    return packet + static_cast<char>(numbers.size()) + numbers;
}

TEST(PatchListVersionFile, FailedPatchHoldsTheVersionFileUntilItIsFetched) {
    ScratchFolder game;
    test::LoopbackStore store("patches/");
    test::writeFile(game.path() / "version.dat", "1001");
    const std::string patch1003 = ZipBuilder().file("version.dat", "1003").file("c.txt", "from 1003").bytes();
    store.put("1003.zip", patch1003);

    // 1002 is missing from the store: 1003 still unpacks, the version file does not move.
    {
        CapturedDiagnostics diagnostics;
        applyPatchList(patchList("1002\n1003"), workContextFor(game.wide(), store.url()));
        EXPECT_NE(diagnostics.text().find("Version file kept, patch not fully applied: "), std::string::npos);
        EXPECT_EQ(test::readFile(game.path() / "version.dat"), "1001");
        EXPECT_EQ(test::readFile(game.path() / "c.txt"), "from 1003");
        EXPECT_EQ(launcherState.installedVersion(), "1001");
    }
    // A clean file check offers PLAY, but does not pass the failure off as "Ready.".
    std::string emptyCheck(4, '\0');
    writePacketType(emptyCheck, PacketType::FileCheck);
    emptyCheck += std::string("\0\x05" "files", 7);
    verifyGameFiles(emptyCheck, workContextFor(game.wide(), store.url()));
    EXPECT_EQ(launcherState.phase.load(), LauncherPhase::Ready);
    EXPECT_EQ(launcherState.statusText(), "Update incomplete. Please try again later.");
    // A later list that applies cleanly but stays below 1002 leaves the failure in view.
    applyPatchList(patchList("1001"), workContextFor(game.wide(), store.url()));
    EXPECT_EQ(launcherState.statusText(), "Update incomplete. Please try again later.");

    // The next list fetches both, in order, only then claims 1003, and ends the failure.
    store.put("1002.zip", ZipBuilder().file("version.dat", "1002").file("b.txt", "from 1002").file("c.txt", "old").bytes());
    CapturedDiagnostics diagnostics;
    applyPatchList(patchList("1002\n1003"), workContextFor(game.wide(), store.url()));
    EXPECT_EQ(diagnostics.text(), "");
    EXPECT_EQ(test::readFile(game.path() / "version.dat"), "1003");
    EXPECT_EQ(test::readFile(game.path() / "b.txt"), "from 1002");
    EXPECT_EQ(test::readFile(game.path() / "c.txt"), "from 1003");
    EXPECT_EQ(launcherState.installedVersion(), "1003");
    EXPECT_EQ(launcherState.statusText(), "Updated, There is no new patches.");
}

}  // namespace
}  // namespace starfell
