// Keeps the UI thread out of the way while the process ends: exit() runs exit
// handlers and static destructors while the UI thread may be in the middle of
// a frame that reads the very objects being destroyed.
#pragma once

namespace starfell {

// Main thread, once, from window creation: installs an exit handler that asks
// the UI thread to park and waits briefly until it has (unless exit() was
// called on the UI thread itself).
void installExitGuard();

// UI thread: marks it as the frame loop's thread.
void enterFrameLoop();

// UI thread, at the top of every frame: parks the thread for good once the
// process is ending, so that it touches nothing more.
void parkIfExiting();

}  // namespace starfell
