// Size and placement of the launcher window, shared by both platforms.
#pragma once

namespace starfell {

constexpr int WindowWidth = 950;
constexpr int WindowHeight = 530;

struct WindowPosition {
    int x;
    int y;
};

// The window's top-left corner that centres it on a screen of the given size:
// the screen size is halved in integers and the result truncated to whole pixels.
constexpr WindowPosition centredWindowPosition(int screenWidth, int screenHeight) {
    return {static_cast<int>(screenWidth / 2 - WindowWidth * 0.5),
            static_cast<int>(screenHeight / 2 - WindowHeight * 0.5)};
}

}  // namespace starfell
