// Modal message boxes, numbered the Windows way on every platform so callers
// share one set of flags and results. Any thread may show one.
#pragma once
#include <cstdint>
#include <string>

namespace starfell {

// Button and icon flags (the low bits of the Windows MB_* values).
constexpr unsigned kMessageBoxOk = 0x0;
constexpr unsigned kMessageBoxYesNo = 0x4;
constexpr unsigned kMessageBoxIconHand = 0x10;
constexpr unsigned kMessageBoxIconQuestion = 0x20;
constexpr unsigned kMessageBoxIconExclamation = 0x30;
constexpr unsigned kMessageBoxIconAsterisk = 0x40;

// Results.
constexpr int kMessageBoxResultOk = 1;
constexpr int kMessageBoxResultYes = 6;
constexpr int kMessageBoxResultNo = 7;

// Shows the box and blocks the calling thread until the player answers.
// Returns the button pressed (IDOK 1, IDYES 6, IDNO 7). When no box can be
// shown at all, a Yes/No box answers No and an OK box answers OK, so no caller
// goes ahead with something the player never agreed to.
int showMessageBox(const std::string& text, const std::string& title, unsigned flags);

// Shows the box in the calling process, whatever else it is doing.
int showMessageBoxHere(const std::string& text, const std::string& title, unsigned flags);

// Called by the window's thread before it makes the window, and once the
// window is shown. A box that another thread asks for in between waits (30 s
// at most) until the window is shown: made first, it would come up under the
// window, where the player does not see it.
void messageBoxWindowComing();
void messageBoxWindowShown();
// The wait itself, done by each platform's `showMessageBox`.
void waitForTheWindowBeforeABox();

// Windows: from now on boxes are owned by `window` (an HWND): modal to it, so
// the window takes no clicks while a box is up, whichever thread asks for it.
// A box asked for by another thread is shown by the window's own thread: its
// window procedure hands the message `messageBoxRequestMessage()` to
// `answerMessageBoxRequest` (which returns the procedure's result).
void setMessageBoxOwner(void* window);
unsigned messageBoxRequestMessage();
long answerMessageBoxRequest(std::intptr_t request);

// Linux: whether one of the launcher's boxes is up. The box is another
// process's window, so the launcher's window drops presses meanwhile.
bool messageBoxIsOpen();

// Linux: from now on every box is shown by a fresh copy of the launcher, also
// before the window exists: SDL forks the process that draws a box, and a fork
// of the launcher would hold its server connection open. Called by the
// launcher's own start; other programs (the unit tests) show boxes in-process.
void showMessageBoxesInFreshProcesses();

// Linux: the body of `StarfellLauncher --message-box FLAGS TITLE TEXT`, the
// fresh process that shows a box for the launcher; its exit status is the answer.
int runMessageBoxProcess(int argc, char** argv);

}  // namespace starfell
