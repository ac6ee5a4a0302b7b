// Whether the frame loop draws on a given pass: a frame is drawn only when
// something it shows can have changed; otherwise the loop waits for input.
#pragma once
#include <atomic>

namespace starfell {

class FrameDemand {
public:
    // Frames drawn after an outside change, so the GUI settles: a window that
    // opens or a button that toggles content needs a frame or two to lay out.
    static constexpr int kSettleFrames = 4;

    // Any thread: what the window shows must be drawn again (a resize, an
    // uncovered or restored window, a reset device, the first frame).
    void requestRedraw() { redraw_.store(true, std::memory_order_release); }

    // UI thread, while drawing: the frame is mid-animation, so draw the next pass too.
    void requestNextFrame() { nextFrame_ = true; }

    // UI thread, once per pass before drawing. `input`: window input went
    // to the GUI this pass; `contentChanged`: what the frame function shows changed.
    bool shouldDraw(bool input, bool contentChanged);

    // UI thread, after a drawn frame: a held button or key (drags, key repeat) or
    // a text entry with its blinking cursor keeps frames coming.
    void noteGuiBusy(bool busy) { guiBusy_ = busy; }

    // UI thread, before waiting for input: whether the next pass will draw
    // whatever happens (the loop then waits only until the next frame is due).
    bool wantsFrame() const {
        return framesOwed_ > 0 || nextFrame_ || guiBusy_ || redraw_.load(std::memory_order_acquire);
    }

private:
    std::atomic<bool> redraw_{true};
    bool nextFrame_ = false;
    bool guiBusy_ = false;
    int framesOwed_ = 0;
};

// UI thread, after a frame: whether the GUI holds a pressed button or key or an
// active text entry.
bool guiIsBusy();

// The launcher window's frame demand.
FrameDemand& frameDemand();

}  // namespace starfell
