// The launcher window on Linux: a borderless SDL2 window with an OpenGL 3
// context, the UI thread's frame loop and the main thread's event pump.
//
// SDL's event pump must run on the thread that created the window (the main
// thread), while all drawing happens on the UI thread: the main thread creates
// the window and the GL context, uploads the background texture, then releases
// the context; the UI thread makes it current and keeps it for good. Events
// cross from the main thread to the UI thread through a locked queue and are
// replayed there over as many frames as it takes for no press to meet its
// release in the same frame.
#include <SDL.h>
#include <SDL_opengl.h>
#include <malloc.h>

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "base/process_end.h"
#include "core/launcher_config.h"
#include "imgui.h"
#include "imgui_impl_opengl3.h"
#include "imgui_impl_sdl.h"
#include "resources/embedded.h"
#include "ui/frame_demand.h"
#include "ui/images.h"
#include "ui/input_gate.h"
#include "ui/input_replay.h"
#include "ui/locked_queue.h"
#include "ui/theme.h"
#include "ui/window.h"
#include "ui/window_layout.h"

namespace starfell {
namespace {

SDL_Window* window = nullptr;
SDL_GLContext glContext = nullptr;
const char* const GlslVersion = "#version 130";
// Our own event that asks the main thread, which owns the window, to minimise it.
Uint32 minimiseEventType = static_cast<Uint32>(-1);

LockedQueue<SDL_Event>& eventQueue() {
    static auto* queue = new LockedQueue<SDL_Event>(4096); // never destroyed: the process ends while the UI thread draws
    return *queue;
}

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

// A press, key, typed text or wheel turn: what the window drops while the UI
// thread is blocked. Releases pass, so nothing stays held.
bool isPress(const SDL_Event& event) {
    switch (event.type) {
        case SDL_MOUSEBUTTONDOWN: case SDL_MOUSEWHEEL: case SDL_KEYDOWN: case SDL_TEXTINPUT: case SDL_TEXTEDITING:
            return true;
        default:
            return false;
    }
}

// The mouse button (0-4) or key (FirstKeyControl + scancode) an event changes, or -1.
int controlOf(const SDL_Event& event) {
    switch (event.type) {
        case SDL_MOUSEBUTTONDOWN: case SDL_MOUSEBUTTONUP: return event.button.button - 1;
        case SDL_KEYDOWN: case SDL_KEYUP: return FirstKeyControl + static_cast<int>(event.key.keysym.scancode);
        default: return -1;
    }
}

// The pointer and the GUI's three buttons as the replayed events left them.
struct ReplayedPointer {
    bool known = false;
    ImVec2 position;
    bool down[3] = {false, false, false};
};

// Hands one queued event to the GUI. Buttons and the pointer are kept in
// `pointer`; the modifier keys come from the event itself, as the backend's
// SDL_GetModState() tells the state of the keyboard now, not at this key.
void replayEvent(const SDL_Event& event, ReplayedPointer& pointer) {
    switch (event.type) {
        case SDL_MOUSEMOTION:
            pointer.position = ImVec2(static_cast<float>(event.motion.x), static_cast<float>(event.motion.y));
            pointer.known = true;
            break;
        case SDL_MOUSEBUTTONDOWN: case SDL_MOUSEBUTTONUP: {
            pointer.position = ImVec2(static_cast<float>(event.button.x), static_cast<float>(event.button.y));
            pointer.known = true;
            const int button = controlOf(event);
            if (button >= 0 && button < 3) pointer.down[button] = event.type == SDL_MOUSEBUTTONDOWN;
            return;  // the backend would keep its own copy of the press
        }
        case SDL_WINDOWEVENT:
            // A pointer that left the window is forgotten, unless a held button keeps
            // the window's grab and its motion events still come.
            if (event.window.event == SDL_WINDOWEVENT_LEAVE && !(pointer.down[0] || pointer.down[1] || pointer.down[2]))
                pointer.known = false;
            break;
    }
    ImGui_ImplSDL2_ProcessEvent(&event);
    if (event.type == SDL_KEYDOWN || event.type == SDL_KEYUP) {
        ImGuiIO& io = ImGui::GetIO();
        const Uint16 mod = event.key.keysym.mod;
        io.KeyShift = (mod & KMOD_SHIFT) != 0;
        io.KeyCtrl = (mod & KMOD_CTRL) != 0;
        io.KeyAlt = (mod & KMOD_ALT) != 0;
        io.KeySuper = (mod & KMOD_GUI) != 0;
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

}  // namespace

bool createLauncherWindow() {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) failWindow("Cannot start the video system: ");
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
    glContext = SDL_GL_CreateContext(window);
    if (!glContext) failWindow("Cannot create the OpenGL context: ");
    SDL_GL_MakeCurrent(window, glContext);
    SDL_GL_SetSwapInterval(0);  // pacing is the frame loop's 10 ms sleep

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
    glFinish();
    SDL_GL_MakeCurrent(window, nullptr);  // the UI thread takes the context
    // Shown only now that drawing can start: never an empty window without a context.
    SDL_ShowWindow(window);
    return true;
}

void runFrameLoopWith(void (*drawFrame)(), void (*prepare)(), bool (*contentChanged)()) {
    SDL_GL_MakeCurrent(window, glContext);
    ImGui_ImplSDL2_InitForOpenGL(window, glContext);
    ImGui_ImplOpenGL3_Init(GlslVersion);
    // The font texture now rather than in the first frame, so that the atlas's
    // copies of its pixels can go at once, and back to the system: the C
    // library would otherwise keep the freed megabytes in this thread's heap.
    ImGui_ImplOpenGL3_CreateDeviceObjects();
    storeFontTextureAsAlpha();
    releaseFontBuildData();
    malloc_trim(0);
    if (prepare) prepare();

    std::vector<SDL_Event> arrived, pending;
    ReplayedPointer pointer;
    for (;;) {
        // Input, as much as one frame can take without losing a press or release
        eventQueue().drain(arrived);
        pending.insert(pending.end(), arrived.begin(), arrived.end());
        const std::size_t portion = framePortion(pending, controlOf);
        for (std::size_t i = 0; i < portion; ++i) replayEvent(pending[i], pointer);
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(portion));

        // Every window event (expose, focus, size) comes through the queue, so
        // a pass without input, change or animation has nothing new to show.
        const bool changed = contentChanged != nullptr && contentChanged();
        if (!frameDemand().shouldDraw(portion > 0, changed)) {
            SDL_Delay(10);
            continue;
        }

        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplSDL2_NewFrame();
        // The backend polls SDL's pointer and buttons as they are now, which the
        // main thread has moved on from the events replayed so far (and SDL's
        // global pointer may not move at all for synthetic input): the replayed
        // events decide where the pointer is and which buttons are down.
        ImGuiIO& io = ImGui::GetIO();
        io.MousePos = pointer.known ? pointer.position : ImVec2(-FLT_MAX, -FLT_MAX);
        for (int button = 0; button < 3; ++button) io.MouseDown[button] = pointer.down[button];
        ImGui::NewFrame();
        drawFrame();
        ImGui::Render();

        glViewport(0, 0, static_cast<int>(io.DisplaySize.x * io.DisplayFramebufferScale.x),
                   static_cast<int>(io.DisplaySize.y * io.DisplayFramebufferScale.y));
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
        SDL_GL_SwapWindow(window);
        frameDemand().noteGuiBusy(guiIsBusy());
        SDL_Delay(10);
    }
}

void minimiseLauncherWindow() {
    if (minimiseEventType == static_cast<Uint32>(-1)) return;
    SDL_Event event{};
    event.type = minimiseEventType;
    SDL_PushEvent(&event);
}

void pumpMessagesForever() {
    for (;;) {
        SDL_Delay(10);
        // All pending events at once: SDL gathers many per X event (motion,
        // text, window changes), and the GUI wants them in the same frame.
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (isCloseRequest(event)) endProcess(0);
            if (isPress(event) && !windowInputGate().admits()) continue;
            if (event.type == minimiseEventType) {
                SDL_MinimizeWindow(window);
                continue;
            }
            if (event.type == SDL_DROPFILE || event.type == SDL_DROPTEXT) {
                SDL_free(event.drop.file);  // owned by the receiver; the launcher takes no drops
                continue;
            }
            eventQueue().push(event);
        }
        windowInputGate().allMessagesRead();
    }
}

}  // namespace starfell
