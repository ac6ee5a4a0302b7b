// Fonts and theme of the launcher, shared by both platforms.
#include "ui/theme.h"

#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "resources/embedded.h"

namespace starfell {
namespace {

// A text font is read whole into memory the atlas owns; a file that is missing,
// empty, huge or not a TrueType/OpenType font is skipped, because the atlas
// would otherwise stop the process on it.
void* readFontFile(const std::string& path, int& size) {
    std::FILE* file = fs::openFile(path, "rb");
    if (!file) return nullptr;
    void* data = nullptr;
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    const long maxLength = 64L * 1024 * 1024;
    if (length >= 12 && length <= maxLength && std::fseek(file, 0, SEEK_SET) == 0) {
        data = IM_ALLOC(static_cast<size_t>(length));
        if (std::fread(data, 1, static_cast<size_t>(length), file) != static_cast<size_t>(length)) {
            IM_FREE(data);
            data = nullptr;
        }
    }
    std::fclose(file);
    if (!data) return nullptr;
    static const unsigned char signatures[4][4] = {
        {0x00, 0x01, 0x00, 0x00}, {'t', 'r', 'u', 'e'}, {'O', 'T', 'T', 'O'}, {'t', 't', 'c', 'f'}};
    for (const auto& signature : signatures)
        if (std::memcmp(data, signature, 4) == 0) {
            size = static_cast<int>(length);
            return data;
        }
    IM_FREE(data);
    return nullptr;
}

ImVec4 bytes(int r, int g, int b, int a) { return ImVec4(r / 255.0f, g / 255.0f, b / 255.0f, a / 255.0f); }

}  // namespace

std::string buildLauncherFont(ImFontAtlas& atlas, const std::vector<std::string>& textFontFiles) {
    // Source 1: the text font, default glyph range.
    std::string used;
    ImFontConfig textConfig;
    textConfig.OversampleH = 1;
    textConfig.OversampleV = 1;
    textConfig.PixelSnapH = true;
    for (const std::string& path : textFontFiles) {
        int size = 0;
        void* data = readFontFile(path, size);
        if (!data) continue;
        atlas.AddFontFromMemoryTTF(data, size, 14.0f, &textConfig);  // the atlas owns `data`
        used = path;
        break;
    }
    if (used.empty()) {
        // No text font: the built-in font is the base, so the icons still have a font to merge into.
        writeDiagnostic("Text font not found, using the built-in font: " +
                        (textFontFiles.empty() ? std::string() : textFontFiles.front()));
        atlas.AddFontDefault();
    }

    // Source 2: Font Awesome 5 Free Solid, kept in the executable's read-only data.
    static const ImWchar solidRanges[] = {0xF000, 0xF950, 0};
    ImFontConfig solidConfig;
    solidConfig.MergeMode = true;
    solidConfig.PixelSnapH = true;
    solidConfig.OversampleH = 3;
    solidConfig.OversampleV = 1;
    solidConfig.FontDataOwnedByAtlas = false;
    atlas.AddFontFromMemoryTTF(const_cast<unsigned char*>(resources::fontAwesomeSolid),
                               static_cast<int>(resources::fontAwesomeSolidSize), 16.0f, &solidConfig,
                               solidRanges);

    // Source 3: FontAwesome 4.7, compressed; the atlas owns the decompressed copy.
    // It only fills code points that the solid font lacks.
    static const ImWchar legacyRanges[] = {0xF000, 0xF3FF, 0};
    ImFontConfig legacyConfig;
    legacyConfig.MergeMode = true;
    legacyConfig.PixelSnapH = true;
    legacyConfig.OversampleH = 2;
    legacyConfig.OversampleV = 2;
    atlas.AddFontFromMemoryCompressedTTF(resources::fontAwesomeLegacyCompressed,
                                         static_cast<int>(resources::fontAwesomeLegacyCompressedSize), 16.0f,
                                         &legacyConfig, legacyRanges);
    return used;
}

void applyLauncherTheme(ImGuiStyle& style) {
    style.Alpha = 1.0f;
    style.WindowPadding = ImVec2(8, 8);
    style.WindowRounding = 0.0f;
    style.WindowTitleAlign = ImVec2(0.5f, 0.5f);
    style.FramePadding = ImVec2(4, 3);
    style.FrameRounding = 3.0f;
    style.ItemSpacing = ImVec2(8, 4);
    style.ItemInnerSpacing = ImVec2(4, 4);
    style.ScrollbarSize = 10.0f;
    style.ScrollbarRounding = 6.0f;
    style.ButtonTextAlign = ImVec2(0.5f, 0.5f);

    ImVec4* c = style.Colors;
    c[ImGuiCol_Text] = bytes(255, 255, 255, 255);
    c[ImGuiCol_WindowBg] = bytes(0, 0, 0, 0);
    c[ImGuiCol_ChildBg] = bytes(0, 0, 0, 60);
    c[ImGuiCol_PopupBg] = bytes(10, 10, 10, 240);
    c[ImGuiCol_Border] = bytes(80, 30, 5, 180);
    c[ImGuiCol_FrameBg] = bytes(30, 30, 30, 200);
    c[ImGuiCol_FrameBgHovered] = bytes(50, 50, 50, 220);
    c[ImGuiCol_FrameBgActive] = bytes(70, 70, 70, 255);
    c[ImGuiCol_TitleBgActive] = bytes(5, 5, 5, 255);
    c[ImGuiCol_MenuBarBg] = ImVec4(0.05f, 0.05f, 0.05f, 1.0f);
    c[ImGuiCol_ScrollbarBg] = bytes(10, 10, 10, 200);
    c[ImGuiCol_ScrollbarGrab] = bytes(200, 80, 10, 255);
    c[ImGuiCol_ScrollbarGrabHovered] = bytes(220, 80, 10, 240);
    c[ImGuiCol_ScrollbarGrabActive] = bytes(255, 110, 20, 255);
    c[ImGuiCol_CheckMark] = bytes(255, 140, 0, 255);
    c[ImGuiCol_SliderGrab] = bytes(200, 80, 10, 255);
    c[ImGuiCol_SliderGrabActive] = bytes(255, 110, 20, 255);
    c[ImGuiCol_Button] = bytes(180, 55, 5, 220);
    c[ImGuiCol_ButtonHovered] = bytes(220, 80, 10, 240);
    c[ImGuiCol_ButtonActive] = bytes(255, 110, 20, 255);
    c[ImGuiCol_Header] = bytes(180, 55, 5, 220);
    c[ImGuiCol_HeaderHovered] = bytes(220, 80, 10, 240);
    c[ImGuiCol_HeaderActive] = bytes(255, 110, 20, 255);
}

void setupFontsAndTheme() {
    buildLauncherFont(*ImGui::GetIO().Fonts, textFontFiles());
    ImGuiStyle& style = ImGui::GetStyle();
    ImGui::StyleColorsDark(&style);
    applyLauncherTheme(style);
}

void releaseFontBuildData() {
    // What the GUI reads while drawing (glyphs, their texture coordinates, the
    // white pixel and line data) is kept. The input data also places the
    // software mouse cursor, which the launcher never draws (MouseDrawCursor
    // stays off).
    ImFontAtlas& atlas = *ImGui::GetIO().Fonts;
    atlas.ClearTexData();
    atlas.ClearInputData();
}

}  // namespace starfell
