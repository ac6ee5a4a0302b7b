// Placeholder until the window lands: no window, an idle main thread.
#include <chrono>
#include <thread>

#include "ui/window.h"

namespace starfell {

bool createLauncherWindow() { return true; }

void runFrameLoop() {}

void pumpMessagesForever() {
    for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace starfell
