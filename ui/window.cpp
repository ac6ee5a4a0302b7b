// The launcher's frame content: the main screen, after a one-time preparation.
#include "ui/window.h"

#include "screen/game_settings.h"
#include "screen/main_screen.h"

namespace starfell {
namespace {

// Once, on the UI thread, before the first frame.
void prepareFirstFrame() { loadGameSettings(); }

}  // namespace

void runFrameLoop() { runFrameLoopWith(&drawMainScreen, &prepareFirstFrame); }

}  // namespace starfell
