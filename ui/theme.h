// The launcher's look: one GUI font (text font plus two merged icon fonts), the
// dark-and-orange theme and the accent colour the main screen draws with.
#pragma once
#include <string>
#include <vector>

#include "imgui.h"

namespace starfell {

// The icons the screens draw, as UTF-8 button labels. The icon fonts are
// rasterised for these code points only (IconGlyphRanges): a label with any
// other icon would show the fallback glyph.
#define ICON_COG "\xef\x80\x93"       // U+F013
#define ICON_MINIMISE "\xef\x8b\x91"  // U+F2D1
#define ICON_CLOSE "\xef\x80\x8d"     // U+F00D
inline constexpr ImWchar IconGlyphRanges[] = {0xF00D, 0xF00D, 0xF013, 0xF013, 0xF2D1, 0xF2D1, 0};

// Headings, the title, hovered news lines and (with alpha 0.6) the window frame.
inline const ImVec4 accentColour(1.0f, 0.4f, 0.0f, 1.0f);

// Fills the current GUI context's font atlas and style. Main thread, once,
// after the context exists and before the first frame.
void setupFontsAndTheme();

// Builds the atlas's one font: the first readable text font of `textFontFiles`
// (at 14 px), or the library's built-in font when none can be read, with the two
// icon fonts merged into it. Returns the file used, or "" for the built-in font.
std::string buildLauncherFont(ImFontAtlas& atlas, const std::vector<std::string>& textFontFiles);

// The theme's sizes and colours over the library's default dark style.
void applyLauncherTheme(ImGuiStyle& style);

// Platform: where the text font may lie, in order of preference.
std::vector<std::string> textFontFiles();

}  // namespace starfell
