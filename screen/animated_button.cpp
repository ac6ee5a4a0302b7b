// The main screen's animated button, built on the GUI's item machinery.
#include "screen/animated_button.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "imgui_internal.h"
#include "ui/frame_demand.h"

namespace starfell {
namespace {

// Process-wide, created on first use, entries never removed. Never destroyed
// either: the process may exit while the UI thread still draws.
std::map<ImGuiID, ButtonAnim>& animations() {
    static auto* store = new std::map<ImGuiID, ButtonAnim>;
    return *store;
}

// Longest easing step in seconds (a step of 1/6 s or more would overshoot).
constexpr float kLongestAnimationStep = 0.05f;
// A shape this close to its target (pixels) has stopped moving for the eye.
constexpr float kSettledGap = 0.25f;

}  // namespace

ButtonAnim stepButtonAnim(ButtonAnim anim, ImVec2 buttonSize, bool active, float dt) {
    const float targetX = active ? buttonSize.x * 0.5f : 0.0f;
    const float targetY = active ? buttonSize.y * 0.5f : 0.0f;
    anim.growX += (targetX - anim.growX) * dt * 6.0f;
    anim.growY += (targetY - anim.growY) * dt * 6.0f;
    return anim;
}

const ButtonAnim* findButtonAnim(ImGuiID id) {
    const auto& store = animations();
    const auto found = store.find(id);
    return found == store.end() ? nullptr : &found->second;
}

bool AnimatedButton(const char* label, const ImVec2& size) {
    ImGuiWindow* window = ImGui::GetCurrentWindow();
    if (window->SkipItems) return false;

    ImGuiContext& g = *GImGui;
    const ImGuiStyle& style = g.Style;
    const ImGuiID id = window->GetID(label);
    const ImVec2 labelSize = ImGui::CalcTextSize(label, nullptr, true);
    ButtonAnim& anim = animations()[id];

    const ImVec2 pos = window->DC.CursorPos;
    const ImVec2 itemSize = ImGui::CalcItemSize(size, labelSize.x + style.FramePadding.x * 2.0f,
                                                labelSize.y + style.FramePadding.y * 2.0f);
    const ImRect bb(pos, ImVec2(pos.x + itemSize.x, pos.y + itemSize.y));
    ImGui::ItemSize(itemSize, style.FramePadding.y);
    if (!ImGui::ItemAdd(bb, id)) return false;

    ImGuiButtonFlags flags = ImGuiButtonFlags_None;
    if (g.LastItemData.InFlags & ImGuiItemFlags_ButtonRepeat) flags |= ImGuiButtonFlags_Repeat;
    bool hovered = false, held = false;
    const bool pressed = ImGui::ButtonBehavior(bb, id, &hovered, &held, flags);

    // Frames are drawn only while something moves, so the time since the last
    // one may be long: a step is held to a frame's worth, which cannot overshoot.
    anim = stepButtonAnim(anim, itemSize, hovered || held, std::min(g.IO.DeltaTime, kLongestAnimationStep));
    // Close enough, the shape rests at its target; until then it asks for the next frame.
    const ButtonAnim target = stepButtonAnim(anim, itemSize, hovered || held, 1.0f / 6.0f);
    if (std::fabs(anim.growX - target.growX) <= kSettledGap && std::fabs(anim.growY - target.growY) <= kSettledGap)
        anim = target;
    else
        frameDemand().requestNextFrame();

    const ImU32 colour = ImGui::GetColorU32((held && hovered) ? ImGuiCol_ButtonActive
                                            : hovered         ? ImGuiCol_ButtonHovered
                                                              : ImGuiCol_Button);
    const ImVec2 centre((bb.Min.x + bb.Max.x) * 0.5f, (bb.Min.y + bb.Max.y) * 0.5f);
    ImDrawList* drawList = window->DrawList;
    const float rounding = 4.0f;
    drawList->AddRectFilled(ImVec2(centre.x - anim.growX, centre.y - anim.growY),
                            ImVec2(centre.x + anim.growX, centre.y + anim.growY), colour, rounding);
    drawList->AddRect(bb.Min, bb.Max, colour, rounding, 0, 2.0f);
    drawList->AddRectFilled(bb.Min, bb.Max, colour, rounding);

    // Drawn twice at the same place: the second pass makes the label bolder.
    const ImVec2 textMin(bb.Min.x + style.FramePadding.x, bb.Min.y + style.FramePadding.y);
    const ImVec2 textMax(bb.Max.x - style.FramePadding.x, bb.Max.y - style.FramePadding.y);
    for (int pass = 0; pass < 2; ++pass)
        ImGui::RenderTextClipped(textMin, textMax, label, nullptr, &labelSize, style.ButtonTextAlign, &bb);
    return pressed;
}

}  // namespace starfell
