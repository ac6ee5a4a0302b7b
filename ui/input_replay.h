// How much queued input the UI thread replays into the GUI in one frame. The
// GUI reads button and key states once per frame, so a press and its release
// replayed into the same frame would cancel out and the click would be lost:
// a frame's portion ends before the second change of the same button or key.
#pragma once
#include <cstddef>
#include <set>
#include <vector>

namespace starfell {

// Controls below this number are mouse buttons; keys are numbered from it.
constexpr int FirstKeyControl = 256;

// `controlOf(message)` names the button or key a message changes, or -1 for
// messages that change none (moves, wheel, focus, text). Returns how many
// messages from the front may be replayed now; at least one when any are queued.
// A portion also ends right after a mouse button changes: the GUI takes a press
// or release where the pointer is at the end of the frame, and the moves that
// followed it (a drag under way while the UI thread was late) would carry it
// off the control it was made on.
template <class Message, class ControlOf>
std::size_t framePortion(const std::vector<Message>& queued, ControlOf controlOf) {
    std::set<int> changed;
    std::size_t count = 0;
    for (const Message& message : queued) {
        const int control = controlOf(message);
        if (control >= 0 && !changed.insert(control).second) break;
        ++count;
        if (control >= 0 && control < FirstKeyControl) break;
    }
    return count;
}

}  // namespace starfell
