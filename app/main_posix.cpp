// Linux entry point of the launcher.
#include <csignal>
#include <cstring>

#include "app/startup.h"
#include "base/message_box.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--message-box") == 0) return starfell::runMessageBoxProcess(argc, argv);
    // A write to a connection the server already closed must fail, not kill us.
    std::signal(SIGPIPE, SIG_IGN);
    starfell::showMessageBoxesInFreshProcesses();
    return starfell::runLauncher();
}
