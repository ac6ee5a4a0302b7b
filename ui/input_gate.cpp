// The launcher window's input gate and the UI thread's blocking calls behind it.
#include "ui/input_gate.h"

namespace starfell {

InputGate& windowInputGate() {
    static auto* gate = new InputGate;  // never destroyed: the process may end while either thread uses it
    return *gate;
}

void withoutWindowInput(const std::function<void()>& blockingCall) {
    InputGate& gate = windowInputGate();
    gate.close();
    blockingCall();
    gate.open(std::chrono::milliseconds(500));
}

}  // namespace starfell
