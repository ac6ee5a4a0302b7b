// Windows: message boxes through MessageBoxA, owned by the launcher's window
// once it exists.
#include <windows.h>

#include <atomic>
#include <string>

#include "base/diagnostics.h"
#include "base/message_box.h"

namespace starfell {

namespace {
std::atomic<HWND> owner{nullptr};
}  // namespace

void setMessageBoxOwner(void* window) { owner = static_cast<HWND>(window); }

int showMessageBox(const std::string& text, const std::string& title, unsigned flags) {
    const int result = MessageBoxA(owner.load(), text.c_str(), title.c_str(), flags);
    if (result == 0) {
        // Said, as on Linux: a box the player never saw must not pass silently for an answer.
        writeDiagnostic("Could not show message box \"" + title + "\": error " + std::to_string(GetLastError()));
        return (flags & 0xF) == MB_YESNO ? IDNO : IDOK;
    }
    return result;
}

}  // namespace starfell

namespace starfell {

int showMessageBoxHere(const std::string& text, const std::string& title, unsigned flags) {
    return showMessageBox(text, title, flags);
}

}  // namespace starfell
