// The settings panel's controls over the game settings of the launcher's folder.
#include "screen/settings_panel.h"

#include "imgui.h"

namespace starfell {
namespace {

const ImVec4 HeadingColour(1.0f, 0.6f, 0.0f, 1.0f);
constexpr float SliderWidth = 140.0f;
constexpr int FpsMin = 60;
constexpr int FpsMax = 1000;

void heading(const char* text) {
    ImGui::PushStyleColor(ImGuiCol_Text, HeadingColour);
    ImGui::BulletText("%s", text);
    ImGui::PopStyleColor();
}

}  // namespace

SliderLimits resolutionSliderLimits(ScreenSize display) {
    return {display.width / 2, display.width, display.height / 2, display.height};
}

void drawSettingsPanel() {
    GameSettings& settings = gameSettings();
    const SliderLimits limits = resolutionSliderLimits(primaryScreenSize());

    heading("Screen Resolution");
    ImGui::Spacing();
    ImGui::TextUnformatted("Width ");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(SliderWidth);
    if (ImGui::SliderInt("##Width", &settings.screenWidth, limits.widthMin, limits.widthMax, "%d", 0))
        saveResolution();
    ImGui::TextUnformatted("Height");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(SliderWidth);
    if (ImGui::SliderInt("##Height", &settings.screenHeight, limits.heightMin, limits.heightMax, "%d", 0))
        saveResolution();
    ImGui::Spacing();

    heading("FPS");
    ImGui::SetNextItemWidth(SliderWidth);
    if (ImGui::SliderInt("##FPS", &settings.fpsLimit, FpsMin, FpsMax, "%d", 0)) saveFpsLimit();
    ImGui::Spacing();

    heading("Extra");
    if (ImGui::Checkbox("HideEffects", &settings.hideEffects)) saveHideEffects();
}

}  // namespace starfell
