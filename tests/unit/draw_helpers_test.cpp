// News wrapping and the screen's drawing helpers.
#include <gtest/gtest.h>

#include <string>

#include "gui_test_support.h"
#include "screen/draw_helpers.h"

namespace starfell {
namespace {

TEST(HardWrap, BreaksAfterEveryWidthBytesAndCountsAcrossLineFeeds) {
    const std::string a37(37, 'a');
    const std::string a38(38, 'a');
    EXPECT_EQ(hardWrap(a37, 38), a37);
    EXPECT_EQ(hardWrap(a38, 38), a38 + "\n");
    EXPECT_EQ(hardWrap(std::string(76, 'a'), 38), a38 + "\n" + a38 + "\n");
    EXPECT_EQ(hardWrap(std::string(80, 'a'), 38), a38 + "\n" + a38 + "\n" + "aaaa");
    // A line feed is one more byte of the count: 10 + LF + 27 fill the first 38.
    const std::string withBreak = std::string(10, 'b') + "\n" + std::string(30, 'c');
    EXPECT_EQ(hardWrap(withBreak, 38), std::string(10, 'b') + "\n" + std::string(27, 'c') + "\n" + "ccc");
    EXPECT_EQ(hardWrap("", 38), "");
}

TEST(HardWrap, NeverCutsAMultiByteCharacterAndLeavesWidthZeroAlone) {
    // The two-byte "\xc3\xbc" at bytes 38-39 stays whole on the first line; the
    // count starts afresh after it. A three-byte character at 37-39 likewise.
    const std::string text = std::string(37, 'a') + "\xc3\xbc" + "z";
    EXPECT_EQ(hardWrap(text, 38), std::string(37, 'a') + "\xc3\xbc" + "\n" + "z");
    const std::string euro = std::string(36, 'a') + "\xe2\x82\xac" + std::string(38, 'b');
    EXPECT_EQ(hardWrap(euro, 38), std::string(36, 'a') + "\xe2\x82\xac\n" + std::string(38, 'b') + "\n");
    EXPECT_EQ(hardWrap("abc", 0), "abc");
}

TEST(PackColour, RoundsLikeTheGuiAndClamps) {
    EXPECT_EQ(packColour(ImVec4(1, 0.4f, 0, 1)), IM_COL32(255, 102, 0, 255));
    EXPECT_EQ(packColour(ImVec4(2, -1, 0.5f, 0.001f)), IM_COL32(255, 0, 128, 0));
}

int vertexCount() {
    int total = 0;
    for (int i = 0; i < ImGui::GetDrawData()->CmdListsCount; ++i)
        total += ImGui::GetDrawData()->CmdLists[i]->VtxBuffer.Size;
    return total;
}

TEST(DrawHelpers, TransparentFillsDrawNothingAndOthersDraw) {
    test::HeadlessGui gui;
    const auto verticesOf = [&](auto draw) {
        gui.beginFrame();
        draw();
        gui.endFrame();
        return vertexCount();
    };
    const int empty = verticesOf([] {});
    EXPECT_EQ(verticesOf([] { drawFilledRect(320, 497, 300, 8, ImVec4(1, 1, 1, 0), 3); }), empty);
    EXPECT_EQ(verticesOf([] { drawFilledRect(320, 497, 300, 8, ImVec4(1, 1, 1, 0.001f), 3); }), empty);
    EXPECT_GT(verticesOf([] { drawFilledRect(320, 497, 300, 8, ImVec4(1, 1, 1, 0.12f), 3); }), empty);
    EXPECT_GT(verticesOf([] { drawLine(0, 30, 950, 30, ImVec4(1, 0.4f, 0, 0.4f), 1.5f); }), empty);
    EXPECT_GT(verticesOf([] { drawRect(0, 0, 950, 530, ImVec4(1, 0.4f, 0, 0.6f), 2, 0); }), empty);
}

TEST(DrawHelpers, UseWindowCoordinatesWithoutOffset) {
    test::HeadlessGui gui;
    gui.beginFrame();
    ImGui::SetCursorPos(ImVec2(100, 100));  // the helpers ignore the cursor
    drawFilledRect(320, 497, 300, 8, ImVec4(1, 1, 1, 1), 0);
    gui.endFrame();
    ImVec2 low(1e9f, 1e9f), high(-1e9f, -1e9f);
    const ImDrawList* list = ImGui::GetDrawData()->CmdLists[0];
    for (const ImDrawVert& v : list->VtxBuffer) {
        low = ImVec2(std::min(low.x, v.pos.x), std::min(low.y, v.pos.y));
        high = ImVec2(std::max(high.x, v.pos.x), std::max(high.y, v.pos.y));
    }
    // Anti-aliased fringes reach half a pixel beyond the rectangle.
    EXPECT_NEAR(low.x, 320, 0.5f);
    EXPECT_NEAR(low.y, 497, 0.5f);
    EXPECT_NEAR(high.x, 620, 0.5f);
    EXPECT_NEAR(high.y, 505, 0.5f);
}

}  // namespace
}  // namespace starfell
