// POSIX: message boxes through SDL, which shows them before SDL_Init and
// blocks the calling thread until a button is pressed.
//
// SDL draws an X11 box in a fork()ed child. Once the window exists, its
// thread is inside Xlib all the time (it waits there for input), and a child
// forked while it holds an Xlib lock hangs for ever; and any fork of the launcher holds its
// server connection for as long as the box is up. So the launcher's boxes are
// shown by a fresh copy of it (`--message-box`), started through the spawn
// helper, which answers through its exit status.
#include <SDL.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "base/diagnostics.h"
#include "base/message_box.h"
#include "base/spawn_posix.h"

namespace starfell {

namespace {

std::atomic<bool> freshProcesses{false};
std::atomic<int> boxesOpen{0};

Uint32 iconFlags(unsigned flags) {
    switch (flags & 0xF0) {
        case kMessageBoxIconHand: return SDL_MESSAGEBOX_ERROR;
        case kMessageBoxIconExclamation: return SDL_MESSAGEBOX_WARNING;
        default: return SDL_MESSAGEBOX_INFORMATION;  // question, asterisk, none
    }
}

}  // namespace

int showMessageBoxHere(const std::string& text, const std::string& title, unsigned flags) {
    const bool yesNo = (flags & 0xF) == kMessageBoxYesNo;

    // Return answers Yes (or OK), Escape answers No (or OK).
    SDL_MessageBoxButtonData yesNoButtons[] = {
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, kMessageBoxResultNo, "No"},
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, kMessageBoxResultYes, "Yes"},
    };
    SDL_MessageBoxButtonData okButton[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT,
         kMessageBoxResultOk, "OK"},
    };

    SDL_MessageBoxData data{};
    data.flags = iconFlags(flags);
    data.window = nullptr;
    data.title = title.c_str();
    data.message = text.c_str();
    data.numbuttons = yesNo ? 2 : 1;
    data.buttons = yesNo ? yesNoButtons : okButton;

    int pressed = -1;
    if (SDL_ShowMessageBox(&data, &pressed) != 0 || pressed < 0) {
        writeDiagnostic("Could not show message box \"" + title + "\": " + SDL_GetError());
        return yesNo ? kMessageBoxResultNo : kMessageBoxResultOk;
    }
    return pressed;
}

namespace {

int showMessageBoxInFreshProcess(const std::string& text, const std::string& title, unsigned flags) {
    const bool yesNo = (flags & 0xF) == kMessageBoxYesNo;
    const int fallback = yesNo ? kMessageBoxResultNo : kMessageBoxResultOk;
    // Started like every other child: it must not hold the server connection
    // or any other descriptor, which would outlive the launcher with it.
    SpawnRequest request;
    request.program = "/proc/self/exe";
    request.argv = {"StarfellLauncher", "--message-box", std::to_string(flags), title, text};
    pid_t child = 0;
    if (spawnProgram(request, child) != 0) {
        writeDiagnostic("Could not show message box \"" + title + "\": the launcher could not be started again");
        return fallback;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return fallback;
    }
    if (!WIFEXITED(status)) return fallback;
    const int answer = WEXITSTATUS(status);
    return answer == kMessageBoxResultOk || answer == kMessageBoxResultYes || answer == kMessageBoxResultNo
               ? answer
               : fallback;
}

}  // namespace

void showMessageBoxesInFreshProcesses() { freshProcesses = true; }

bool messageBoxIsOpen() { return boxesOpen.load() > 0; }

int showMessageBox(const std::string& text, const std::string& title, unsigned flags) {
    waitForTheWindowBeforeABox();
    ++boxesOpen;
    const int answer = freshProcesses || SDL_WasInit(SDL_INIT_VIDEO) != 0
                           ? showMessageBoxInFreshProcess(text, title, flags)
                           : showMessageBoxHere(text, title, flags);
    --boxesOpen;
    return answer;
}

int runMessageBoxProcess(int argc, char** argv) {
    if (argc < 5) return 0;
    const unsigned flags = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
    return showMessageBoxHere(argv[4], argv[3], flags);
}

}  // namespace starfell
