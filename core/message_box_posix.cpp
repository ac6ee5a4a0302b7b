// POSIX: message boxes through SDL, which shows them before SDL_Init and
// blocks the calling thread until a button is pressed.
#include <SDL.h>

#include "core/message_box.h"
#include "update/diagnostics.h"

namespace starfell {

namespace {

Uint32 iconFlags(unsigned flags) {
    switch (flags & 0xF0) {
        case kMessageBoxIconHand: return SDL_MESSAGEBOX_ERROR;
        case kMessageBoxIconExclamation: return SDL_MESSAGEBOX_WARNING;
        default: return SDL_MESSAGEBOX_INFORMATION;  // question, asterisk, none
    }
}

}  // namespace

int showMessageBox(const std::string& text, const std::string& title, unsigned flags) {
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

}  // namespace starfell
