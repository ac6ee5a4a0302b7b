// The launcher window: creation, the UI thread's frame loop, the message pump.
#pragma once

namespace starfell {

// Main thread, once, after the server's hello answer. Creates the window, the
// device, the GUI context, fonts, theme and background. Ends the process with
// exit code 1 when the device cannot be created; otherwise returns true.
bool createLauncherWindow();

// Body of the UI thread: one pass per 10 ms sleep. `prepare` runs once before
// the first frame (may be null), `drawFrame` once per drawn frame between the
// GUI's new frame and its rendering. A pass draws only when something can have
// changed (ui/frame_demand.h): input, a redraw request, an animation, or
// `contentChanged` (may be null) reporting that what drawFrame shows has changed.
void runFrameLoopWith(void (*drawFrame)(), void (*prepare)(), bool (*contentChanged)() = nullptr);

// Any thread: asks for the launcher window to be minimised; the result is not used.
void minimiseLauncherWindow();

// Main thread, for ever: one window message per 10 ms at most.
[[noreturn]] void pumpMessagesForever();

}  // namespace starfell
