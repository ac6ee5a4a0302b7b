// The launcher window on Linux: a borderless SDL2 window with an OpenGL 3
// context. One thread creates it, reads its events and draws the GUI, as the
// GUI library's own examples do, so input reaches the GUI once and in order.
#include <SDL.h>
#include <SDL_opengl.h>
#include <malloc.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "base/message_box.h"
#include "base/process_end.h"
#include "core/launcher_config.h"
#include "imgui.h"
#include "imgui_impl_opengl3.h"
#include "imgui_impl_sdl.h"
#include "resources/embedded.h"
#include "ui/frame_demand.h"
#include "ui/images.h"
#include "ui/theme.h"
#include "ui/window.h"
#include "ui/window_layout.h"

namespace starfell {
namespace {

SDL_Window* window = nullptr;
SDL_GLContext glContext = nullptr;
const char* const GlslVersion = "#version 130";
// Our own event, pushed by any thread: minimise the window.
Uint32 minimiseEventType = static_cast<Uint32>(-1);
Uint32 wakeEventType = static_cast<Uint32>(-1);  // wakes the wait; nothing else to do

[[noreturn]] void failWindow(const char* what) {
    writeDiagnostic(std::string(what) + SDL_GetError());
    if (glContext) SDL_GL_DeleteContext(glContext);
    if (window) SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    endProcess(1);
}

// True for the requests that end the launcher: the window's close request and
// Alt+F4 (there may be no window manager to turn it into a close request).
bool isCloseRequest(const SDL_Event& event) {
    if (event.type == SDL_QUIT) return true;
    if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) return true;
    return event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_F4 && (event.key.keysym.mod & KMOD_ALT);
}

// A press, key, typed text or wheel turn: what a message box of the launcher's
// keeps from the window. Releases pass, so nothing stays held.
bool isPress(const SDL_Event& event) {
    switch (event.type) {
        case SDL_MOUSEBUTTONDOWN: case SDL_MOUSEWHEEL: case SDL_KEYDOWN: case SDL_TEXTINPUT: case SDL_TEXTEDITING:
            return true;
        default:
            return false;
    }
}

// The window icon from the Windows icon file's one 32 x 32 image (a 32-bit
// bottom-up BGRA bitmap after its 40-byte header), so both builds show the
// same artwork; left out when the file is not of that shape.
void setWindowIcon() {
    constexpr std::size_t Side = 32, DirectorySize = 6 + 16, HeaderSize = 40, PixelBytes = Side * Side * 4;
    const unsigned char* icon = resources::windowIcon;
    if (resources::windowIconSize < DirectorySize) return;
    const std::size_t offset = icon[18] | icon[19] << 8 | icon[20] << 16 | static_cast<std::size_t>(icon[21]) << 24;
    if (icon[6] != Side || icon[7] != Side || icon[12] != 32 ||
        offset + HeaderSize + PixelBytes > resources::windowIconSize)
        return;
    std::vector<Uint32> pixels(Side * Side);
    const unsigned char* bitmap = icon + offset + HeaderSize;
    for (std::size_t row = 0; row < Side; ++row)
        for (std::size_t column = 0; column < Side; ++column) {
            const unsigned char* bgra = bitmap + ((Side - 1 - row) * Side + column) * 4;
            pixels[row * Side + column] = static_cast<Uint32>(bgra[3]) << 24 | static_cast<Uint32>(bgra[2]) << 16 |
                                          static_cast<Uint32>(bgra[1]) << 8 | bgra[0];
        }
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), Side, Side, 32, Side * 4,
                                                              SDL_PIXELFORMAT_ARGB8888);
    if (!surface) return;
    SDL_SetWindowIcon(window, surface);
    SDL_FreeSurface(surface);
}

// The GUI's font texture made again as one channel that the sampler reads as
// white with that alpha, as the RGBA texture it replaces: a quarter of the
// driver's memory for the same pixels. Kept as RGBA where the context cannot
// swizzle (before OpenGL 3.3, without the extension) or a glyph has colours.
void storeFontTextureAsAlpha() {
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    ImFontAtlas& atlas = *ImGui::GetIO().Fonts;
    if (((major < 3 || (major == 3 && minor < 3)) && !SDL_GL_ExtensionSupported("GL_ARB_texture_swizzle")) ||
        atlas.TexPixelsUseColors)
        return;
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    atlas.GetTexDataAsAlpha8(&pixels, &width, &height);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(reinterpret_cast<std::intptr_t>(atlas.TexID)));
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, width, height, 0, GL_RED, GL_UNSIGNED_BYTE, pixels);
    static const GLint whiteWithAlpha[] = {GL_ONE, GL_ONE, GL_ONE, GL_RED};
    glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, whiteWithAlpha);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
}

// Creates the window and its OpenGL context, current on this thread for good,
// and the GUI with its fonts, theme and background.
void createWindow() {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) failWindow("Cannot start the video system: ");
    // When no display answers, SDL falls back to drivers that show nothing:
    // a launcher running on unseen would be worse than one that says why it ends.
    const std::string driver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
    if (driver == "offscreen" || driver == "dummy" || driver == "evdev") {
        SDL_SetError("no display could be reached (only SDL's \"%s\" driver started)", driver.c_str());
        failWindow("Cannot start the video system: ");
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, 0);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);

    SDL_DisplayMode mode{};
    int screenWidth = 1920, screenHeight = 1080;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0) {
        screenWidth = mode.w;
        screenHeight = mode.h;
    }
    const WindowPosition position = centredWindowPosition(screenWidth, screenHeight);
    window = SDL_CreateWindow(launcherConfig().BrandName.c_str(), position.x, position.y, WindowWidth, WindowHeight,
                              SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
    if (!window) failWindow("Cannot create the window: ");
    setWindowIcon();
    minimiseEventType = SDL_RegisterEvents(1);
    wakeEventType = SDL_RegisterEvents(1);
    glContext = SDL_GL_CreateContext(window);
    if (!glContext) failWindow("Cannot create the OpenGL context: ");
    SDL_GL_MakeCurrent(window, glContext);
    SDL_GL_SetSwapInterval(0);  // pacing is the frame loop's own

    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    // OpenGL 3 takes textures of any height: the atlas's rows beyond its last
    // glyph would only round it up to a power of two (almost 1 MiB here).
    io.Fonts->Flags |= ImFontAtlasFlags_NoPowerOfTwoHeight;
    setupFontsAndTheme();
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard | ImGuiConfigFlags_NavEnableGamepad;
    loadImageResource(resources::BackgroundImageId, backgroundTexture);

    ImGui_ImplSDL2_InitForOpenGL(window, glContext);
    ImGui_ImplOpenGL3_Init(GlslVersion);
    // The font texture now rather than in the first frame, so that the atlas's
    // copies of its pixels can go at once, and back to the system: the C
    // library would otherwise keep the freed megabytes in this thread's heap.
    ImGui_ImplOpenGL3_CreateDeviceObjects();
    storeFontTextureAsAlpha();
    releaseFontBuildData();
    malloc_trim(0);
    // Shown only now that drawing can start: never an empty window.
    SDL_ShowWindow(window);
    messageBoxWindowShown();
}

// The pointer and the GUI's three buttons as the events read so far left
// them. The backend asks SDL, whose state has moved on to every event SDL has
// read, not just those the GUI has had (a drag's release read with its last
// moves would end it short of them), and gives the pointer only while the
// window has the mouse focus, which X11 takes away during the grab SDL makes
// while a button is held.
struct Pointer {
    bool known = false;
    int x = 0, y = 0;
    bool down[3] = {false, false, false};
} pointer;

void followPointer(const SDL_Event& event) {
    switch (event.type) {
        case SDL_MOUSEMOTION:
            pointer.known = true;
            pointer.x = event.motion.x;
            pointer.y = event.motion.y;
            break;
        case SDL_MOUSEBUTTONDOWN: case SDL_MOUSEBUTTONUP: {
            pointer.known = true;
            pointer.x = event.button.x;
            pointer.y = event.button.y;
            const int button = event.button.button == SDL_BUTTON_LEFT ? 0 : event.button.button == SDL_BUTTON_RIGHT ? 1
                               : event.button.button == SDL_BUTTON_MIDDLE ? 2 : -1;
            if (button < 0) break;
            pointer.down[button] = event.type == SDL_MOUSEBUTTONDOWN;
            break;
        }
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_LEAVE && !(pointer.down[0] || pointer.down[1] || pointer.down[2]))
                pointer.known = false;
            break;
        default:
            break;
    }
}

// The GUI's view of the pointer for the frame about to start.
void applyPointer(ImGuiIO& io) {
    if (pointer.known) io.MousePos = ImVec2(static_cast<float>(pointer.x), static_cast<float>(pointer.y));
    for (int button = 0; button < 3; ++button) io.MouseDown[button] = pointer.down[button];
}

// Presses made during a blocking call of this thread (SDL_GetTicks() times):
// they were meant for what the call showed, or made while the window was dead.
Uint32 droppedFrom = 1, droppedUntil = 0;  // none yet

// Hands one event to the GUI, or acts on it. Returns whether the GUI got it.
bool handleEvent(const SDL_Event& event) {
    if (isCloseRequest(event)) endProcess(0);
    if (event.type == minimiseEventType) {
        SDL_MinimizeWindow(window);
        return false;
    }
    if (event.type == wakeEventType) return false;
    if (event.type == SDL_DROPFILE || event.type == SDL_DROPTEXT) {
        SDL_free(event.drop.file);  // owned by the receiver; the launcher takes no drops
        return false;
    }
    if (isPress(event) && (messageBoxIsOpen() ||
                           (event.common.timestamp >= droppedFrom && event.common.timestamp <= droppedUntil)))
        return false;
    ImGui_ImplSDL2_ProcessEvent(&event);
    followPointer(event);
    if (event.type == SDL_KEYDOWN || event.type == SDL_KEYUP) {
        // The modifiers as they were at this key: the backend asks SDL for them
        // now, which is after every event read so far (a Ctrl+click's Ctrl may
        // already be let go).
        ImGuiIO& io = ImGui::GetIO();
        const Uint16 mod = event.key.keysym.mod;
        io.KeyShift = (mod & KMOD_SHIFT) != 0;
        io.KeyCtrl = (mod & KMOD_CTRL) != 0;
        io.KeyAlt = (mod & KMOD_ALT) != 0;
        io.KeySuper = (mod & KMOD_GUI) != 0;
    }
    return true;
}

// The input that ends a frame's share, held for the next pass.
SDL_Event heldInput;
bool inputHeld = false;

// The key or mouse button an event changes (buttons as negative numbers), or
// kNoControl.
constexpr int kNoControl = INT_MIN;
int controlOf(const SDL_Event& event) {
    if (event.type == SDL_KEYDOWN || event.type == SDL_KEYUP) return event.key.keysym.scancode;
    if (event.type == SDL_MOUSEBUTTONDOWN || event.type == SDL_MOUSEBUTTONUP) return -event.button.button;
    return kNoControl;
}

// Waits up to `timeoutMs` for an event, then hands the GUI every event there
// is, up to the second change of one key or button: this GUI reads a key or
// button as up or down once a frame, so a press and release in one frame (as
// `xdotool key` or a fast typist make them), or one click's release and the
// next click's press read together by a launcher running behind, would be
// lost. That event is held for the next frame. A button change after moves is
// held too, so that the GUI sees the moves with the button as it was (a drag
// ends where it ended), and a press ends the frame's events, so that the GUI
// takes it where it was made. Returns whether the GUI got input.
bool readEvents(Uint32 timeoutMs) {
    std::vector<int> changed;
    bool moved = false;
    bool input = false;
    SDL_Event event;
    for (bool first = true;; first = false) {
        if (inputHeld) {
            event = heldInput;
            inputHeld = false;
        } else if (first ? SDL_WaitEventTimeout(&event, static_cast<int>(timeoutMs)) == 0 : SDL_PollEvent(&event) == 0) {
            break;
        }
        const int control = controlOf(event);
        if (control != kNoControl) {
            const bool button = control < 0;
            if (std::find(changed.begin(), changed.end(), control) != changed.end() || (button && moved)) {
                heldInput = event;
                inputHeld = true;
                return input;
            }
            changed.push_back(control);
        }
        if (handleEvent(event)) input = true;
        if (event.type == SDL_MOUSEMOTION) moved = true;
        if (event.type == SDL_MOUSEBUTTONDOWN) break;
    }
    return input;
}

}  // namespace

void runLauncherWindow(void (*drawFrame)(), void (*prepare)(), bool (*contentChanged)()) {
    messageBoxWindowComing();
    createWindow();
    if (prepare) prepare();
    Uint32 lastFrame = 0;
    for (;;) {
        // Frames at most every FrameIntervalMs; between them the thread sleeps
        // in the wait for input, up to IdleWaitMs when nothing is to be drawn.
        const Uint32 sinceFrame = SDL_GetTicks() - lastFrame;
        const Uint32 wait = !frameDemand().wantsFrame() ? IdleWaitMs
                            : sinceFrame < FrameIntervalMs ? FrameIntervalMs - sinceFrame : 0;
        const bool input = readEvents(wait);
        const bool changed = contentChanged != nullptr && contentChanged();
        if (!frameDemand().shouldDraw(input, changed)) continue;
        // With input held for the next pass, the GUI takes this pass's share
        // without showing it: a backlog (a loaded machine, keys typed fast) is
        // caught up at the GUI's pace, not at the display's.
        const bool catchingUp = inputHeld;
        if (!catchingUp) {
            if (SDL_GetTicks() - lastFrame < FrameIntervalMs) SDL_Delay(FrameIntervalMs - (SDL_GetTicks() - lastFrame));
            lastFrame = SDL_GetTicks();
        }

        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplSDL2_NewFrame();
        ImGuiIO& io = ImGui::GetIO();
        applyPointer(io);
        ImGui::NewFrame();
        drawFrame();
        if (catchingUp) {
            ImGui::EndFrame();
            continue;
        }
        ImGui::Render();

        glViewport(0, 0, static_cast<int>(io.DisplaySize.x * io.DisplayFramebufferScale.x),
                   static_cast<int>(io.DisplaySize.y * io.DisplayFramebufferScale.y));
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
        SDL_GL_SwapWindow(window);
        frameDemand().noteGuiBusy(guiIsBusy());
    }
}

void wakeLauncherWindow() {
    if (wakeEventType == static_cast<Uint32>(-1)) return;
    SDL_Event event{};
    event.type = wakeEventType;
    SDL_PushEvent(&event);
}

void minimiseLauncherWindow() {
    if (minimiseEventType == static_cast<Uint32>(-1)) return;
    SDL_Event event{};
    event.type = minimiseEventType;
    SDL_PushEvent(&event);
}

void withoutWindowInput(const std::function<void()>& blockingCall) {
    droppedFrom = SDL_GetTicks();
    blockingCall();
    SDL_PumpEvents();  // what the X server already has is read and stamped now
    droppedUntil = SDL_GetTicks();
}

}  // namespace starfell
