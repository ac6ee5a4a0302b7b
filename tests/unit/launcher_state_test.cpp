// Shared launcher state under concurrent writers, and the configuration.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "core/launcher_config.h"
#include "core/launcher_state.h"
#include "test_support.h"

namespace starfell {
namespace {

TEST(LauncherState, StartsAsTheScreenExpects) {
    LauncherState state;
    LauncherSnapshot snapshot;
    state.refreshSnapshot(snapshot);
    EXPECT_EQ(snapshot.phase, LauncherPhase::Idle);
    EXPECT_EQ(snapshot.statusText, "Checking for new update..");
    EXPECT_EQ(snapshot.installedVersion, "");
    EXPECT_TRUE(snapshot.newsItems.empty());
    EXPECT_EQ(state.authorised.load(), 0);
    EXPECT_EQ(state.sendFailures.load(), 0);
}

TEST(LauncherState, ALastingFailureOutlivesTheTextsThatEndAStep) {
    LauncherState state;
    state.settleStatusText("Ready.");
    EXPECT_EQ(state.statusText(), "Ready.");
    state.noteLastingFailure("Launcher update failed. Please try again later.");
    state.setStatusText("Downloading version: 1001/1001");  // work in progress is still shown
    EXPECT_EQ(state.statusText(), "Downloading version: 1001/1001");
    state.settleStatusText("Updated, There is no new patches.");
    EXPECT_EQ(state.statusText(), "Launcher update failed. Please try again later.");
    state.notePatchFailure("Update incomplete. Please try again later.", 1003);
    state.settleStatusText("Ready.");
    EXPECT_EQ(state.statusText(), "Update incomplete. Please try again later.");

    // A patch failure ends once a list reaches the failed number, not before;
    // the launcher's own failure is shown again and never ends.
    state.notePatchesReached(1002);
    state.settleStatusText("Updated, There is no new patches.");
    EXPECT_EQ(state.statusText(), "Update incomplete. Please try again later.");
    state.notePatchesReached(1003);
    state.settleStatusText("Updated, There is no new patches.");
    EXPECT_EQ(state.statusText(), "Launcher update failed. Please try again later.");

    LauncherState patchOnly;
    patchOnly.notePatchFailure("Update incomplete. Please try again later.", 1003);
    patchOnly.notePatchesReached(1005);
    patchOnly.settleStatusText("Ready.");
    EXPECT_EQ(patchOnly.statusText(), "Ready.");
}

TEST(LauncherState, SnapshotCopiesOnlyNewNewsAndKeepsOrder) {
    LauncherState state;
    LauncherSnapshot snapshot;
    state.appendNews("one");
    state.appendNews("one");
    state.refreshSnapshot(snapshot);
    state.appendNews("two");
    state.refreshSnapshot(snapshot);
    state.refreshSnapshot(snapshot);  // nothing new
    EXPECT_EQ(snapshot.newsItems, std::vector<std::string>({"one", "one", "two"}));

    LauncherSnapshot foreign;  // a snapshot refreshed from another state starts over
    foreign.newsItems = {"a", "b", "c", "d"};
    foreign.newsRevision = 99;
    state.refreshSnapshot(foreign);
    EXPECT_EQ(foreign.newsItems, state.newsItems());
}

TEST(LauncherState, ConcurrentWritersAndASnapshotReader) {
    LauncherState state;
    constexpr int kWriters = 4;
    constexpr int kLines = 2000;
    std::atomic<bool> done{false};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&state, w] {
            for (int i = 0; i < kLines; ++i) {
                state.appendNews(std::to_string(w) + ":" + std::to_string(i));
                state.setStatusText("status " + std::to_string(w) + " " + std::to_string(i));
                state.setInstalledVersion(std::to_string(1000 + i));
                state.phase.store(static_cast<LauncherPhase>(i % 6), std::memory_order_relaxed);
                state.sendFailures.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    std::thread reader([&] {
        LauncherSnapshot snapshot;
        while (!done.load()) {
            state.refreshSnapshot(snapshot);
            ASSERT_TRUE(snapshot.statusText.empty() || snapshot.statusText.rfind("status", 0) == 0 ||
                        snapshot.statusText == "Checking for new update..");
        }
    });
    for (auto& writer : writers) writer.join();
    done = true;
    reader.join();

    LauncherSnapshot snapshot;
    state.refreshSnapshot(snapshot);
    // The list stops at its cap; what it kept is each writer's first lines, in order.
    ASSERT_EQ(snapshot.newsItems.size(), kMaximumNewsItems);
    ASSERT_GT(static_cast<size_t>(kWriters * kLines), kMaximumNewsItems);
    std::map<int, int> next;
    for (const auto& line : snapshot.newsItems) {
        const int writer = std::stoi(line.substr(0, line.find(':')));
        const int index = std::stoi(line.substr(line.find(':') + 1));
        EXPECT_EQ(index, next[writer]++);
    }
    EXPECT_EQ(state.sendFailures.load(), kWriters * kLines);
}

TEST(LauncherConfig, EnvironmentOverridesAndDerivedPatchBase) {
    const auto defaults = makeLauncherConfig([](const char*) -> const char* { return nullptr; });
    EXPECT_EQ(defaults.BrandName, "Starfell");
    EXPECT_EQ(defaults.ServerPort, 9538);
    EXPECT_EQ(defaults.PatchBaseUrl, "http://" + defaults.ServerAddress + "/");

    const auto custom = makeLauncherConfig([](const char* name) -> const char* {
        std::string key(name);
        if (key == "STARFELL_SERVER_ADDRESS") return "127.0.0.7";
        if (key == "STARFELL_WEBSITE_URL") return "http://127.0.0.7/site/";
        if (key == "STARFELL_CHAT_URL") return "";  // empty keeps the built-in value
        return nullptr;
    });
    EXPECT_EQ(custom.ServerAddress, "127.0.0.7");
    EXPECT_EQ(custom.PatchBaseUrl, "http://127.0.0.7/");
    EXPECT_EQ(custom.WebsiteUrl, "http://127.0.0.7/site/");
    EXPECT_EQ(custom.ChatUrl, defaults.ChatUrl);
    EXPECT_EQ(custom.CommunityUrl, defaults.CommunityUrl);
}

// Only values that cannot start a program replace the built-in ones: a host
// name, a file path or another URL scheme is ignored, and said so.
TEST(LauncherConfig, EnvironmentValuesThatCouldStartAProgramAreIgnored) {
    const auto defaults = makeLauncherConfig([](const char*) -> const char* { return nullptr; });
    const char* badAddresses[] = {"evil.example", "127.0.0.1:80", "1.2.3", "1.2.3.4.5", "256.1.1.1", "01.2.3.4",
                                  "1.2.3.4 ", "-1.2.3.4", "1..3.4"};
    const char* badUrls[] = {"file:///C:/Windows/System32/calc.exe", "C:\\game\\Conquer.exe", "/usr/bin/xterm",
                             "javascript:alert(1)", "HTTP//x", "http://a b/", "https://x/\n--", "ftp://x/"};
    for (const char* address : badAddresses) {
        test::CapturedDiagnostics diagnostics;
        const auto config = makeLauncherConfig([&](const char* name) -> const char* {
            return std::string(name) == "STARFELL_SERVER_ADDRESS" ? address : nullptr;
        });
        EXPECT_EQ(config.ServerAddress, defaults.ServerAddress) << address;
        EXPECT_EQ(config.PatchBaseUrl, defaults.PatchBaseUrl) << address;
        EXPECT_NE(diagnostics.text().find("Ignored STARFELL_SERVER_ADDRESS from the environment"), std::string::npos);
    }
    for (const char* url : badUrls) {
        test::CapturedDiagnostics diagnostics;
        const auto config = makeLauncherConfig([&](const char* name) -> const char* {
            return std::string(name) == "STARFELL_SERVER_ADDRESS" ? nullptr : url;
        });
        EXPECT_EQ(config.WebsiteUrl, defaults.WebsiteUrl) << url;
        EXPECT_EQ(config.CommunityUrl, defaults.CommunityUrl) << url;
        EXPECT_EQ(config.ChatUrl, defaults.ChatUrl) << url;
        EXPECT_NE(diagnostics.text().find("Ignored STARFELL_CHAT_URL from the environment"), std::string::npos);
    }
    const auto good = makeLauncherConfig([](const char* name) -> const char* {
        return std::string(name) == "STARFELL_SERVER_ADDRESS" ? "255.0.10.1" : "https://play.example.org/x?y=1";
    });
    EXPECT_EQ(good.ServerAddress, "255.0.10.1");
    EXPECT_EQ(good.ChatUrl, "https://play.example.org/x?y=1");
}

}  // namespace
}  // namespace starfell
