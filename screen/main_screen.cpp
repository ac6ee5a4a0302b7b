// The main screen, first cut: root window, background picture and title line.
// The full screen (title-bar buttons, side panel, status block) replaces it.
#include "screen/main_screen.h"

#include "core/launcher_config.h"
#include "core/launcher_state.h"
#include "imgui.h"
#include "screen/draw_helpers.h"
#include "ui/images.h"
#include "ui/theme.h"
#include "ui/window_layout.h"

namespace starfell {

void drawMainScreen() {
    // What workers wrote, copied once per frame under the state's lock. Never
    // destroyed: the process may end while this thread draws.
    static LauncherSnapshot& snapshot = *new LauncherSnapshot;
    launcherState.refreshSnapshot(snapshot);

    // Root window over the whole client area
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(static_cast<float>(WindowWidth), static_cast<float>(WindowHeight)));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    ImGui::Begin("##Root", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoBackground);
    ImGui::PopStyleVar(2);

    // Background
    ImGui::SetCursorPos(ImVec2(0, 0));
    if (backgroundTexture)
        ImGui::Image(backgroundTexture, ImVec2(static_cast<float>(WindowWidth), static_cast<float>(WindowHeight)),
                     ImVec2(0, 0), ImVec2(1, 1), ImVec4(1, 1, 1, 1), ImVec4(0, 0, 0, 0));

    // Title: brand and installed version, shown literally
    ImGui::SetCursorPos(ImVec2(10, 10));
    ImGui::PushStyleColor(ImGuiCol_Text, accentColour);
    ImGui::Text("%s  v%s", launcherConfig().BrandName.c_str(), snapshot.installedVersion.c_str());
    ImGui::PopStyleColor();

    // Window frame
    drawRect(0, 0, static_cast<float>(WindowWidth), static_cast<float>(WindowHeight),
             ImVec4(accentColour.x, accentColour.y, accentColour.z, 0.6f), 2.0f, 0.0f);
    ImGui::End();
}

}  // namespace starfell
