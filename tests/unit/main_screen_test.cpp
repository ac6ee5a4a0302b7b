// The main screen: its status-block texts and phase rules, and whole frames
// drawn headless with the texts they show and the title bar's panel toggles.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "core/launcher_state.h"
#include "gui_test_support.h"
#include "imgui_internal.h"
#include "test_support.h"
#include "screen/game_launch.h"
#include "screen/main_screen.h"

namespace starfell {
namespace {

TEST(StatusBlockTexts, StatusLineOnlyWithTextAndVersionLineShowsBothHalves) {
    EXPECT_EQ(statusLine(""), "");
    EXPECT_EQ(statusLine("Ready."), "Status: Ready.");
    EXPECT_EQ(versionLine(""), "Current/Latest Version: /");
    EXPECT_EQ(versionLine("1002"), "Current/Latest Version: 1002/1002");
    EXPECT_FLOAT_EQ(centredTextX(101.0f), 419.5f);
}

TEST(ProgressBar, FillIsThreePixelsPerPercentWithinTheTrack) {
    EXPECT_FLOAT_EQ(progressFillWidth(0), 0.0f);
    EXPECT_FLOAT_EQ(progressFillWidth(1), 3.0f);  // above 2, so drawn
    EXPECT_FLOAT_EQ(progressFillWidth(100), 300.0f);
    // A figure outside 0..100 never draws past the track or backwards.
    EXPECT_FLOAT_EQ(progressFillWidth(250), 300.0f);
    EXPECT_FLOAT_EQ(progressFillWidth(-7), 0.0f);
}

TEST(PhaseRules, ProgressBarWhileWorkingAndPlayOnlyWhenReady) {
    const struct {
        LauncherPhase phase;
        bool bar;
        bool play;
    } rows[] = {{LauncherPhase::Idle, false, false},        {LauncherPhase::Greeted, false, false},
                {LauncherPhase::SelfUpdating, true, false}, {LauncherPhase::Patching, true, false},
                {LauncherPhase::Verifying, true, false},    {LauncherPhase::Ready, false, true}};
    for (const auto& row : rows) {
        EXPECT_EQ(showsProgressBar(row.phase), row.bar) << static_cast<int>(row.phase);
        EXPECT_EQ(showsPlayControls(row.phase), row.play) << static_cast<int>(row.phase);
    }
}

// Draws whole main-screen frames in a headless GUI and captures the texts
// they show. Restores the shared state it changes.
class MainScreenFrames : public ::testing::Test {
protected:
    void SetUp() override {
        savedPhase_ = launcherState.phase.load();
        savedStatus_ = launcherState.statusText();
        savedScreen_ = screenState();
        screenState() = ScreenState{};
    }
    void TearDown() override {
        launcherState.phase = savedPhase_;
        launcherState.setStatusText(savedStatus_);
        screenState() = savedScreen_;
    }

    // One frame with the mouse at `mouse` (button held when `down`); returns
    // every text drawn, one per line.
    std::string frame(ImVec2 mouse = ImVec2(-1, -1), bool down = false) {
        ImGuiIO& io = ImGui::GetIO();
        io.MousePos = mouse;
        io.MouseDown[0] = down;
        // The root window's End ends logging (and drops a buffer log), so the
        // texts go to a file, which survives that.
        const std::string logPath = (scratch_.path() / "shown.txt").string();
        std::filesystem::remove(logPath);  // the log appends
        gui_.beginFrame();
        ImGui::LogToFile(-1, logPath.c_str());
        drawMainScreen();
        ImGui::LogFinish();  // in case drawing ended early
        gui_.endFrame();
        std::string text = test::readFile(logPath);
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());  // Windows logs end lines with CR LF
        return text;
    }

    void click(ImVec2 at) {
        frame(at, false);
        frame(at, true);
        frame(at, false);
    }

    test::ScratchFolder scratch_;
    test::HeadlessGui gui_;
    LauncherPhase savedPhase_{};
    std::string savedStatus_;
    ScreenState savedScreen_;
};

TEST_F(MainScreenFrames, ServerTextsAreShownLiterallyAndTheStatusLineGoesWhenEmpty) {
    launcherState.phase = LauncherPhase::Patching;
    launcherState.setStatusText("100% done %s %d");
    std::string shown = frame();
    EXPECT_NE(shown.find("Status: 100% done %s %d"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Server Status: Online"), std::string::npos);
    EXPECT_NE(shown.find("Current/Latest Version: "), std::string::npos);
    EXPECT_EQ(shown.find("PLAY"), std::string::npos);
    EXPECT_EQ(shown.find("RECENT NEWS"), std::string::npos);  // panel closed at start

    launcherState.setStatusText("");
    shown = frame();
    EXPECT_EQ(shown.find("Status: "), shown.find("Server Status: ") + 7) << shown;  // only inside "Server Status"
}

TEST_F(MainScreenFrames, TitleCogOpensOnNewsAndAlwaysReturnsToNews) {
    const ImVec2 titleCog(871, 17), panelCog(843, 53);
    // News lines only grow, so this adds a line no other test looks for.
    launcherState.appendNews(std::string(76, 'w') + "wxyz");
    launcherState.appendNews("50% off %n");
    click(titleCog);
    EXPECT_TRUE(screenState().sidePanelOpen);
    const std::string news = frame();
    EXPECT_NE(news.find("RECENT NEWS"), std::string::npos);
    // 80 bytes wrapped after every 38: 38, 38 and 4 bytes on three lines.
    EXPECT_NE(news.find("\n" + std::string(38, 'w') + "\n"), std::string::npos) << news;
    EXPECT_NE(news.find("\nwxyz"), std::string::npos) << news;
    EXPECT_NE(news.find("50% off %n"), std::string::npos) << news;

    click(panelCog);
    EXPECT_TRUE(screenState().settingsView);
    click(titleCog);  // closes
    EXPECT_FALSE(screenState().sidePanelOpen);
    EXPECT_FALSE(screenState().settingsView);
    click(titleCog);  // reopens on the news
    EXPECT_TRUE(screenState().sidePanelOpen);
    EXPECT_NE(frame().find("RECENT NEWS"), std::string::npos);
}

TEST_F(MainScreenFrames, ClientCounterStaysWithinOneAndFifty) {
    launcherState.phase = LauncherPhase::Ready;
    const ImVec2 minus(756, 458), plus(796, 458);
    EXPECT_NE(frame().find("PLAY"), std::string::npos);
    click(minus);
    EXPECT_EQ(screenState().clientCount, 1);
    click(plus);
    click(plus);
    EXPECT_EQ(screenState().clientCount, 3);

    screenState().clientCount = MaxClientCount;
    frame();  // the wider number moves the plus button; let the layout settle
    const float plusX = 745 + 22 + 6 + ImGui::CalcTextSize("50").x + 6 + 11;
    click(ImVec2(plusX, 458));
    EXPECT_EQ(screenState().clientCount, MaxClientCount);
}

}  // namespace
}  // namespace starfell
