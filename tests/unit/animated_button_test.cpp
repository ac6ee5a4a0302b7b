// The animated button: its easing and its behaviour as a GUI item.
#include <gtest/gtest.h>

#include "gui_test_support.h"
#include "imgui_internal.h"
#include "screen/animated_button.h"

namespace starfell {
namespace {

TEST(ButtonAnimEasing, ClosesTenPercentPerFrameAt60FpsAndApproachesHalfSize) {
    ButtonAnim anim;
    anim = stepButtonAnim(anim, ImVec2(160, 40), true, 1.0f / 60.0f);
    EXPECT_FLOAT_EQ(anim.growX, 8.0f);
    EXPECT_FLOAT_EQ(anim.growY, 2.0f);
    for (int frame = 1; frame < 120; ++frame) anim = stepButtonAnim(anim, ImVec2(160, 40), true, 1.0f / 60.0f);
    EXPECT_NEAR(anim.growX, 80.0f, 0.01f);
    EXPECT_NEAR(anim.growY, 20.0f, 0.01f);
    EXPECT_LE(anim.growX, 80.0f);  // never past the target at this frame rate

    // Leaving shrinks it back toward 0 at the same rate.
    anim = stepButtonAnim(anim, ImVec2(160, 40), false, 1.0f / 60.0f);
    EXPECT_NEAR(anim.growX, 72.0f, 0.01f);
}

TEST(ButtonAnimEasing, OvershootsOnFramesLongerThanOneSixthSecond) {
    const ButtonAnim once = stepButtonAnim(ButtonAnim{}, ImVec2(160, 40), true, 0.25f);
    EXPECT_FLOAT_EQ(once.growX, 120.0f);  // 80 * 0.25 * 6
    EXPECT_FLOAT_EQ(once.growY, 30.0f);
    const ButtonAnim exact = stepButtonAnim(ButtonAnim{}, ImVec2(160, 40), true, 1.0f / 6.0f);
    EXPECT_NEAR(exact.growX, 80.0f, 1e-4f);
}

TEST(AnimatedButton, GrowsWhileHoveredSharesStateByLabelAndPressesOnRelease) {
    test::HeadlessGui gui;
    ImGuiIO& io = ImGui::GetIO();
    ImGuiID id = 0;
    bool pressedAt[4] = {};
    const auto frame = [&](ImVec2 mouse, bool down, int index) {
        io.MousePos = mouse;
        io.MouseDown[0] = down;
        gui.beginFrame();
        ImGui::SetCursorPos(ImVec2(100, 100));
        pressedAt[index] = AnimatedButton("Website##probe", ImVec2(160, 40));
        id = ImGui::GetItemID();
        // The same label again: the same id, the same record.
        ImGui::SetCursorPos(ImVec2(400, 100));
        AnimatedButton("Website##probe", ImVec2(160, 40));
        EXPECT_EQ(ImGui::GetItemID(), id);
        gui.endFrame();
    };

    frame(ImVec2(10, 10), false, 0);
    ASSERT_NE(findButtonAnim(id), nullptr);
    // Away from it: the second draw eased toward 0 too, so still 0.
    EXPECT_EQ(findButtonAnim(id)->growX, 0.0f);

    frame(ImVec2(180, 120), false, 0);
    const float afterHover = findButtonAnim(id)->growX;
    EXPECT_GT(afterHover, 0.0f);
    frame(ImVec2(180, 120), true, 1);
    frame(ImVec2(180, 120), false, 2);
    EXPECT_FALSE(pressedAt[1]);
    EXPECT_TRUE(pressedAt[2]);  // pressed on release, over the button
    EXPECT_GT(findButtonAnim(id)->growX, afterHover);
}

int verticesOfButton(test::HeadlessGui& gui, const char* label) {
    gui.beginFrame();
    ImGui::SetCursorPos(ImVec2(10, 10));
    AnimatedButton(label, ImVec2(120, 18));
    gui.endFrame();
    return ImGui::GetDrawData()->TotalVtxCount;
}

TEST(AnimatedButton, DrawsOnlyTheLabelBeforeItsIdPart) {
    test::HeadlessGui gui;
    const int shown = verticesOfButton(gui, "Vote");
    EXPECT_EQ(verticesOfButton(gui, "Vote##titlebar"), shown);
    EXPECT_GT(verticesOfButton(gui, "Vote titlebar"), shown);
}

}  // namespace
}  // namespace starfell
