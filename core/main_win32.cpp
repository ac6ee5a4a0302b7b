// Windows entry point of the launcher.
#include <windows.h>

#include "core/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return starfell::runLauncher(); }
