// The settings view of the main screen's side panel: resolution, frame-rate
// limit and effect hiding, each written to the game client's files at once.
#pragma once
#include "screen/game_settings.h"

namespace starfell {

struct SliderLimits {
    int widthMin = 0;
    int widthMax = 0;
    int heightMin = 0;
    int heightMax = 0;
};

// The resolution sliders span half the display to the whole display.
SliderLimits resolutionSliderLimits(ScreenSize display);

// Drawn inside the side panel's scroll region while the settings view is on.
// Once, on the UI thread before the first frame: the settings of the game folder.
void loadSettingsPanel(const std::wstring& folder);
void drawSettingsPanel();

}  // namespace starfell
