// Frame-by-frame decision of the frame loop: draw, or wait for input.
#include "ui/frame_demand.h"

#include <algorithm>

#include "imgui.h"

namespace starfell {

bool FrameDemand::shouldDraw(bool input, bool contentChanged) {
    if (redraw_.exchange(false, std::memory_order_acq_rel) || input || contentChanged)
        framesOwed_ = std::max(framesOwed_, kSettleFrames);
    if (nextFrame_ || guiBusy_) framesOwed_ = std::max(framesOwed_, 1);
    nextFrame_ = false;
    if (framesOwed_ == 0) return false;
    --framesOwed_;
    return true;
}

bool guiIsBusy() {
    const ImGuiIO& io = ImGui::GetIO();
    if (io.WantTextInput) return true;
    for (const bool down : io.MouseDown)
        if (down) return true;
    for (const bool down : io.KeysDown)
        if (down) return true;
    return false;
}

FrameDemand& frameDemand() {
    static auto* demand = new FrameDemand;  // never destroyed: the process may end while the UI thread draws
    return *demand;
}

}  // namespace starfell
