// The settings panel's controls over the game settings of the launcher's folder.
#include "screen/settings_panel.h"

#include "imgui.h"

namespace starfell {
namespace {

const ImVec4 HeadingColour(1.0f, 0.6f, 0.0f, 1.0f);
constexpr float SliderWidth = 140.0f;
constexpr int FpsMin = 60;
constexpr int FpsMax = 1000;
// A number typed into a slider (Ctrl+click) is held to the slider's range like
// a dragged one: the game would otherwise get widths such as 0 or 99999.
constexpr ImGuiSliderFlags SliderFlags = ImGuiSliderFlags_AlwaysClamp;

// What the panel shows and where it writes; UI thread only.
std::wstring gameFolder;
ResolutionFile resolutionFile;
GameSettings settings;

void saveResolution() {
    // The display is only asked when the answer is used.
    saveResolution(resolutionFile, settings, resolutionFile.isConfigIni ? primaryScreenSize() : ScreenSize{});
}

void heading(const char* text) {
    ImGui::PushStyleColor(ImGuiCol_Text, HeadingColour);
    ImGui::BulletText("%s", text);
    ImGui::PopStyleColor();
}

}  // namespace

SliderLimits resolutionSliderLimits(ScreenSize display) {
    return {display.width / 2, display.width, display.height / 2, display.height};
}

void loadSettingsPanel(const std::wstring& folder) {
    gameFolder = folder;
    loadGameSettings(folder, resolutionFile, settings);
}

void drawSettingsPanel() {
    const SliderLimits limits = resolutionSliderLimits(primaryScreenSize());

    heading("Screen Resolution");
    ImGui::Spacing();
    ImGui::TextUnformatted("Width ");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(SliderWidth);
    if (ImGui::SliderInt("##Width", &settings.screenWidth, limits.widthMin, limits.widthMax, "%d", SliderFlags))
        saveResolution();
    ImGui::TextUnformatted("Height");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(SliderWidth);
    if (ImGui::SliderInt("##Height", &settings.screenHeight, limits.heightMin, limits.heightMax, "%d", SliderFlags))
        saveResolution();
    ImGui::Spacing();

    heading("FPS");
    ImGui::SetNextItemWidth(SliderWidth);
    if (ImGui::SliderInt("##FPS", &settings.fpsLimit, FpsMin, FpsMax, "%d", SliderFlags)) saveFpsLimit(resolutionFile, settings);
    ImGui::Spacing();

    heading("Extra");
    if (ImGui::Checkbox("HideEffects", &settings.hideEffects)) saveHideEffects(gameFolder, resolutionFile, settings);
}

}  // namespace starfell
