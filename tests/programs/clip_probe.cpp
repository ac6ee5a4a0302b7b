// Test program, not shipped: the launcher's own window, device and renderer
// drawing a child region whose content runs far past its edges, so that a
// screenshot shows whether clipping holds. Black everywhere except:
//   child region (100,100)-(300,200): red (a rectangle drawn from (50,50) to (400,300));
//   (600,100)-(700,200): green, drawn by the root window as a control; blue after
//   the button at (600,300)-(720,340) was clicked (checks the input hand-off).
// Windows: CLIP_PROBE_NO_STENCIL=1 makes the renderer find no stencil format, as
// on a card that offers none; the window is then drawn unclipped.
// Windows: the frame after the click resets the device first, as after its loss,
// and says "device reset" on stderr; the text must still be drawn afterwards.
#include <cstdlib>

#include "imgui.h"
#include "screen/animated_button.h"
#include "ui/window.h"

#ifdef _WIN32
#include <windows.h>

#include "base/diagnostics.h"
#include "ui/device_win32.h"
#include "ui/imgui_impl_dx8.h"
#endif

namespace {

void resetDeviceOnce() {
#ifdef _WIN32
    static bool done = false;
    if (done) return;
    done = true;
    starfell::writeDiagnostic(starfell::resetLauncherDevice() ? "device reset" : "device reset failed");
#endif
}

void drawProbe() {
    static bool clicked = false;
    // Before Begin, which takes the font texture the window's text is drawn with.
    if (clicked) resetDeviceOnce();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(950, 530));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    ImGui::Begin("##Root", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoBackground);
    ImGui::PopStyleVar(2);
    ImGui::GetWindowDrawList()->AddRectFilled(ImVec2(600, 100), ImVec2(700, 200),
                                              clicked ? IM_COL32(0, 0, 255, 255) : IM_COL32(0, 255, 0, 255));
    ImGui::SetCursorPos(ImVec2(600, 300));
    if (starfell::AnimatedButton("Press##probe", ImVec2(120, 40))) clicked = true;

    ImGui::SetCursorPos(ImVec2(100, 100));
    ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0, 0, 0, 0));
    if (ImGui::BeginChild("##clipped", ImVec2(200, 100), false, ImGuiWindowFlags_NoScrollbar)) {
        ImGui::GetWindowDrawList()->AddRectFilled(ImVec2(50, 50), ImVec2(400, 300), IM_COL32(255, 0, 0, 255));
        for (int line = 0; line < 20; ++line)
            ImGui::TextUnformatted("text that runs past the right edge of its child region");
    }
    ImGui::EndChild();
    ImGui::PopStyleColor();
    ImGui::End();
}

void applyTestSwitches() {
#ifdef _WIN32
    const char* noStencil = std::getenv("CLIP_PROBE_NO_STENCIL");
    if (noStencil && *noStencil == '1') starfell::rendererIgnoreStencilFormats();
#endif
}

int run() {
    applyTestSwitches();
    starfell::runLauncherWindow(&drawProbe, nullptr);
}

}  // namespace

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return run(); }
#else
int main() { return run(); }
#endif
