// The launcher's look: one GUI font (text font plus two merged icon fonts), the
// dark-and-orange theme and the accent colour the main screen draws with.
#pragma once
#include <string>
#include <vector>

#include "imgui.h"

namespace starfell {

// Headings, the title, hovered news lines and (with alpha 0.6) the window frame.
inline const ImVec4 accentColour(1.0f, 0.4f, 0.0f, 1.0f);

// Fills the current GUI context's font atlas and style. Main thread, once,
// after the context exists and before the first frame.
void setupFontsAndTheme();

// Frees the atlas's pixels and the font files it was built from, once the
// renderer holds the font texture: the fonts are never rebuilt, and the copies
// (several MiB with the icon ranges) would otherwise stay for the process's life.
// Outside a frame.
void releaseFontBuildData();

// Builds the atlas's one font: the first readable text font of `textFontFiles`
// (at 14 px), or the library's built-in font when none can be read, with the two
// icon fonts merged into it. Returns the file used, or "" for the built-in font.
std::string buildLauncherFont(ImFontAtlas& atlas, const std::vector<std::string>& textFontFiles);

// The theme's sizes and colours over the library's default dark style.
void applyLauncherTheme(ImGuiStyle& style);

// Platform: where the text font may lie, in order of preference.
std::vector<std::string> textFontFiles();

}  // namespace starfell
