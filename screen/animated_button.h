// The main screen's button: behaves like the GUI's ordinary button but draws a
// shape that grows from its centre while the pointer is over it.
#pragma once
#include "imgui.h"

namespace starfell {

// Animation state per button id: the centre shape's current half-extents in pixels.
struct ButtonAnim {
    float growX = 0.0f;
    float growY = 0.0f;
};

// One easing step toward the half-size of the button (when `active`, i.e.
// hovered or held) or toward 0: each half-extent closes dt * 6 of its gap.
// Not clamped: a step longer than 1/6 s overshoots.
ButtonAnim stepButtonAnim(ButtonAnim anim, ImVec2 buttonSize, bool active, float dt);

// The animation record for a GUI id, or null before its first draw.
const ButtonAnim* findButtonAnim(ImGuiID id);

// Returns true in the frame the button is pressed. Colours come from the style's
// Button, ButtonHovered and ButtonActive slots, which the caller pushes.
bool AnimatedButton(const char* label, const ImVec2& size);

}  // namespace starfell
