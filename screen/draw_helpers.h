// Drawing helpers of the main screen: lines and rectangles at fixed window
// coordinates in RGBA float colours, and the hard text wrapper for news items.
#pragma once
#include <cstddef>
#include <string>

#include "imgui.h"

namespace starfell {

// Each channel clamped to 0..1, times 255, plus 0.5, truncated (alpha 0.001 packs to 0).
ImU32 packColour(const ImVec4& colour);

// Into the current window's draw list, in GUI screen coordinates (the root
// window sits at 0,0, so these are window coordinates); no window offset added.
void drawLine(float x1, float y1, float x2, float y2, const ImVec4& colour, float thickness);
void drawRect(float x, float y, float w, float h, const ImVec4& colour, float thickness, float rounding);
// Draws nothing when the packed colour's alpha is 0.
void drawFilledRect(float x, float y, float w, float h, const ImVec4& colour, float rounding);

// A line feed after every `width` bytes copied, or after the UTF-8 character
// that reaches the width, so no character is ever cut; line feeds already in
// the text count like any other byte. A width of 0 leaves the text unchanged.
std::string hardWrap(const std::string& text, std::size_t width);

}  // namespace starfell
