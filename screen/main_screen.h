// The main screen: everything drawn inside the launcher window, every frame.
#pragma once
#include <string>

#include "core/launcher_state.h"

namespace starfell {

// What the player toggled on the screen; UI thread only, never saved.
struct ScreenState {
    bool sidePanelOpen = false;
    bool settingsView = false;
    int clientCount = 1;
};

ScreenState& screenState();

// UI thread, once per frame, between the GUI's new frame and its rendering.
void drawMainScreen();

// UI thread, once per pass of the frame loop: whether anything the screen
// shows from the launcher state (texts, news, phase, download progress)
// changed since the last call.
bool mainScreenContentChanged();

// The status block's texts: no status line while the status text is empty.
std::string statusLine(const std::string& statusText);
std::string versionLine(const std::string& installedVersion);
// The left edge of a text of the measured width centred on the status block's centre line.
float centredTextX(float measuredWidth);

// What the phase offers: the progress bar while work runs, PLAY once ready.
bool showsProgressBar(LauncherPhase phase);
bool showsPlayControls(LauncherPhase phase);
// The progress bar's fill width for a whole percentage (kept within 0..100);
// the fill is drawn only when this is above 2.
float progressFillWidth(int percent);

// Platform: opens a web page in the player's browser; the result is not used.
void openUrl(const std::string& url);

}  // namespace starfell
