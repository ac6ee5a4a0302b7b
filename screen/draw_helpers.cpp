// Drawing helpers of the main screen.
#include "screen/draw_helpers.h"

namespace starfell {

ImU32 packColour(const ImVec4& colour) { return ImGui::ColorConvertFloat4ToU32(colour); }

void drawLine(float x1, float y1, float x2, float y2, const ImVec4& colour, float thickness) {
    ImGui::GetWindowDrawList()->AddLine(ImVec2(x1, y1), ImVec2(x2, y2), packColour(colour), thickness);
}

void drawRect(float x, float y, float w, float h, const ImVec4& colour, float thickness, float rounding) {
    ImGui::GetWindowDrawList()->AddRect(ImVec2(x, y), ImVec2(x + w, y + h), packColour(colour), rounding, 0,
                                        thickness);
}

void drawFilledRect(float x, float y, float w, float h, const ImVec4& colour, float rounding) {
    const ImU32 packed = packColour(colour);
    if ((packed & IM_COL32_A_MASK) == 0) return;
    ImGui::GetWindowDrawList()->AddRectFilled(ImVec2(x, y), ImVec2(x + w, y + h), packed, rounding);
}

std::string hardWrap(const std::string& text, std::size_t width) {
    if (width == 0) return text;
    std::string out;
    out.reserve(text.size() + text.size() / width + 1);
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        // A break falls only between characters: after the width is reached,
        // the bytes of a character cut by it still join its line.
        const bool continuationFollows = i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80;
        if (++count >= width && !continuationFollows) {
            out += '\n';
            count = 0;
        }
    }
    return out;
}

}  // namespace starfell
