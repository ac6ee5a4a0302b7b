// POSIX: the primary display's size from SDL's desktop display mode.
#include <SDL.h>

#include "screen/game_settings.h"

namespace starfell {

ScreenSize primaryScreenSize() {
    // The video subsystem may not be up on this thread yet; starting it here
    // is reference-counted, so the window code's own start is unaffected.
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return {};
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return {};
    return {mode.w, mode.h};
}

}  // namespace starfell
