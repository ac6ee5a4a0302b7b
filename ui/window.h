// The launcher window. One thread creates it, reads its input and draws the
// GUI: input reaches the GUI once, in order, from the thread that draws.
#pragma once
#include <functional>

namespace starfell {

// Frames come at most this often; with nothing to draw the window's thread
// sleeps in its wait for input or a wake-up, and asks `contentChanged` at
// least this often all the same.
constexpr unsigned FrameIntervalMs = 10;
constexpr unsigned IdleWaitMs = 1000;

// The calling thread becomes the window's, for ever. Creates the window, the
// device, the GUI context, fonts, theme and background (ends the process with
// exit code 1 when the device cannot be created), runs `prepare` (may be null)
// once, then reads input and draws. `drawFrame` runs once per drawn frame
// between the GUI's new frame and its rendering. A frame is drawn only when
// something can have changed (ui/frame_demand.h): input, a redraw request, an
// animation, or `contentChanged` (may be null) reporting that what drawFrame
// shows has changed.
[[noreturn]] void runLauncherWindow(void (*drawFrame)(), void (*prepare)(), bool (*contentChanged)() = nullptr);

// Any thread: wakes the window's thread from its wait, to ask `contentChanged`
// at once (workers call it through the launcher state's change listener).
void wakeLauncherWindow();

// Any thread: asks for the launcher window to be minimised; the result is not used.
void minimiseLauncherWindow();

// The window's thread, while drawing: runs `blockingCall` (starting the game,
// opening a web page) and drops the presses, keys, typed text and wheel turns
// the window got meanwhile. Moves and releases still reach the GUI, so it
// never thinks a button is held that was let go.
void withoutWindowInput(const std::function<void()>& blockingCall);

}  // namespace starfell
