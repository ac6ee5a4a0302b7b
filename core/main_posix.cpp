// Linux entry point of the launcher.
#include <csignal>

#include "core/startup.h"

int main() {
    // A write to a connection the server already closed must fail, not kill us.
    std::signal(SIGPIPE, SIG_IGN);
    return starfell::runLauncher();
}
