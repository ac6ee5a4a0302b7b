// The self-update's verdict and its swap of builds: the launcher's name always
// holds a whole build, and the running program's file is never taken for an
// old build.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "base/file_platform.h"
#include "test_support.h"
#include "update/build_identity.h"
#include "update/self_update.h"
#include "update/self_update_platform.h"

namespace starfell {
namespace {

std::string helloAnswer(const std::string& text) {
    std::string packet = std::string("\xE9\x03\x00\x00", 4) + static_cast<char>(text.size()) + text;
    return packet + std::string(8, '\0');
}

// A build's number and key line are found wherever they lie in its file,
// across the pieces it is read in too; digits that do not fit are no number.
TEST(BuildFacts, StampAndKeyLineAnywhereInTheFile) {
    test::ScratchFolder folder;
    const std::string key = "RWTlhi7SU0WtDs7Y1HLhmtyCJoTqG0kxzekQJTZTjhfYxtY8F6vdkqAW";
    const std::string piece(1024 * 1024, 'x');
    const std::string stamp = "starfell-build:0000004321;";
    test::writeFile(folder.path() / "straddling", piece.substr(8) + stamp + piece.substr(20) + key + "tail");
    auto facts = readBuildFacts(test::wideOf(folder.path() / "straddling"), key);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->number, std::optional<std::uint32_t>(4321));
    EXPECT_TRUE(facts->carriesKeyLine);

    test::writeFile(folder.path() / "odd", "starfell-build:99999999999;starfell-build:00000000x1;" + key.substr(1));
    facts = readBuildFacts(test::wideOf(folder.path() / "odd"), key);
    ASSERT_TRUE(facts);
    EXPECT_FALSE(facts->number);
    EXPECT_FALSE(facts->carriesKeyLine);
    EXPECT_FALSE(readBuildFacts(test::wideOf(folder.path() / "absent"), key));
    // The running build reads its own stamp: the test binary is build 1 unless configured otherwise.
    EXPECT_GE(ownBuildNumber(), 1u);
}

TEST(OutdatedVerdict, OnlyTheExactTextFalse) {
    EXPECT_TRUE(isOutdatedVerdict(helloAnswer("false")));
    EXPECT_FALSE(isOutdatedVerdict(helloAnswer("true")));
    EXPECT_FALSE(isOutdatedVerdict(helloAnswer("False")));
    EXPECT_FALSE(isOutdatedVerdict(helloAnswer(std::string("false\0more", 10))));
    EXPECT_FALSE(isOutdatedVerdict(helloAnswer("falsehood")));
    // Cut off inside the text.
    EXPECT_FALSE(isOutdatedVerdict(std::string("\xE9\x03\x00\x00\x05" "fal", 8)));
}

TEST(SwapInBuild, TheNewBuildTakesTheNameAndTheOldOneIsKeptUntilRestored) {
    test::ScratchFolder folder;
    const std::wstring current = folder.wide() + L"launcher", old = folder.wide() + L"launcher_old",
                       incoming = folder.wide() + L"launcher_new";
    test::writeFile(folder.path() / "launcher", "old build");
    test::writeFile(folder.path() / "launcher_old", "stale old build");
    test::writeFile(folder.path() / "launcher_new", "new build");

    ASSERT_EQ(self_update_platform::swapInBuild(incoming, current, old), 0u);
    EXPECT_EQ(test::readFile(folder.path() / "launcher"), "new build");
    EXPECT_EQ(test::readFile(folder.path() / "launcher_old"), "old build");
    EXPECT_EQ(fs::getAttributes(incoming), fs::kInvalidAttributes);

    // A new build that does not start: the old one goes back under the name.
    ASSERT_TRUE(self_update_platform::restoreBuild(old, current));
    EXPECT_EQ(test::readFile(folder.path() / "launcher"), "old build");
    EXPECT_EQ(fs::getAttributes(old), fs::kInvalidAttributes);

    // Nothing to swap in: the build under the name stays as it is.
    EXPECT_NE(self_update_platform::swapInBuild(folder.wide() + L"missing", current, old), 0u);
    EXPECT_EQ(test::readFile(folder.path() / "launcher"), "old build");
}

TEST(RunningProgram, IsKnownUnderItsOwnPathOnly) {
    EXPECT_TRUE(self_update_platform::isRunningProgram(fs::modulePath()));
    test::ScratchFolder folder;
    test::writeFile(folder.path() / "other", "x");
    EXPECT_FALSE(self_update_platform::isRunningProgram(folder.wide() + L"other"));
    EXPECT_FALSE(self_update_platform::isRunningProgram(folder.wide() + L"missing"));
}

}  // namespace
}  // namespace starfell
