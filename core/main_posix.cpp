// Linux entry point of the launcher.
#include "core/startup.h"

int main() { return starfell::runLauncher(); }
