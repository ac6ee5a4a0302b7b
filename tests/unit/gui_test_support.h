// A headless GUI context for tests of widgets and drawing: no window, no
// renderer, a 950x530 display and a fixed 60 fps frame time.
#pragma once
#include "imgui.h"

namespace starfell::test {

class HeadlessGui {
public:
    HeadlessGui() {
        previous_ = ImGui::GetCurrentContext();
        context_ = ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.LogFilename = nullptr;
        io.DisplaySize = ImVec2(950, 530);
        io.DeltaTime = 1.0f / 60.0f;
        unsigned char* pixels = nullptr;
        int width = 0, height = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    }
    ~HeadlessGui() {
        ImGui::DestroyContext(context_);
        ImGui::SetCurrentContext(previous_);
    }
    HeadlessGui(const HeadlessGui&) = delete;
    HeadlessGui& operator=(const HeadlessGui&) = delete;

    // Starts a frame with a full-size root window like the main screen's.
    void beginFrame() {
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(950, 530));
        ImGui::Begin("##Root", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoBackground);
    }
    void endFrame() {
        ImGui::End();
        ImGui::Render();
    }

private:
    ImGuiContext* previous_ = nullptr;
    ImGuiContext* context_ = nullptr;
};

}  // namespace starfell::test
