// The main screen: everything drawn inside the launcher window, every frame.
#pragma once

namespace starfell {

// UI thread, once per frame, between the GUI's new frame and its rendering.
void drawMainScreen();

}  // namespace starfell
