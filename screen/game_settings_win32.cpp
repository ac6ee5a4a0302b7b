// Windows: the primary display's size from the system metrics.
#include <windows.h>

#include "screen/game_settings.h"

namespace starfell {

ScreenSize primaryScreenSize() { return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

}  // namespace starfell
