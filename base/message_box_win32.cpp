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

struct BoxRequest {
    const std::string& text;
    const std::string& title;
    unsigned flags;
    int result;
};

UINT requestMessage() {
    static const UINT message = RegisterWindowMessageA("starfell-message-box");
    return message;
}

int showBox(HWND window, const std::string& text, const std::string& title, unsigned flags) {
    const int result = MessageBoxA(window, text.c_str(), title.c_str(), flags);
    if (result == 0) {
        // Said, as on Linux: a box the player never saw must not pass silently for an answer.
        writeDiagnostic("Could not show message box \"" + title + "\": error " + std::to_string(GetLastError()));
        return (flags & 0xF) == MB_YESNO ? IDNO : IDOK;
    }
    return result;
}

}  // namespace

void setMessageBoxOwner(void* window) { owner = static_cast<HWND>(window); }

unsigned messageBoxRequestMessage() { return requestMessage(); }

long answerMessageBoxRequest(std::intptr_t request) {
    auto* box = reinterpret_cast<BoxRequest*>(request);
    box->result = showBox(owner.load(), box->text, box->title, box->flags);
    return 1;
}

// A worker's box is made by the window's thread, which then runs the box's
// loop instead of drawing. So one thread makes, paints and draws every window
// of the launcher: under Wine, a box made on a worker while the window's frame
// went out on the same X connection could deadlock inside libX11, made but
// never shown.
int showMessageBox(const std::string& text, const std::string& title, unsigned flags) {
    waitForTheWindowBeforeABox();
    const HWND window = owner.load();
    if (window != nullptr && GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) {
        BoxRequest request{text, title, flags, 0};
        if (SendMessageA(window, requestMessage(), 0, reinterpret_cast<LPARAM>(&request)) == 1) return request.result;
    }
    return showBox(window != nullptr && IsWindow(window) ? window : nullptr, text, title, flags);
}

}  // namespace starfell

namespace starfell {

int showMessageBoxHere(const std::string& text, const std::string& title, unsigned flags) {
    return showMessageBox(text, title, flags);
}

}  // namespace starfell
