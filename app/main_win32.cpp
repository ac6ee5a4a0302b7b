// Windows entry point of the launcher.
#include <windows.h>

#include "app/startup.h"
#include "base/system_libraries_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before anything can load a DLL: never from the game folder.
    starfell::restrictDllSearchToSystemFolder();
    return starfell::runLauncher();
}
