// The launcher window on Linux: a borderless SDL2 window with an OpenGL 3
// context, the UI thread's frame loop and the main thread's event pump.
//
// SDL's event pump must run on the thread that created the window (the main
// thread), while all drawing happens on the UI thread: the main thread creates
// the window and the GL context, uploads the background texture, then releases
// the context; the UI thread makes it current and keeps it for good. Events
// cross from the main thread to the UI thread through a locked queue.
#include <SDL.h>
#include <SDL_opengl.h>

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
#include "ui/images.h"
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
                              SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_SHOWN);
    if (!window) failWindow("Cannot create the window: ");
    minimiseEventType = SDL_RegisterEvents(1);
    glContext = SDL_GL_CreateContext(window);
    if (!glContext) failWindow("Cannot create the OpenGL context: ");
    SDL_GL_MakeCurrent(window, glContext);
    SDL_GL_SetSwapInterval(0);  // pacing is the frame loop's 10 ms sleep

    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    setupFontsAndTheme();
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard | ImGuiConfigFlags_NavEnableGamepad;

    loadImageResource(resources::BackgroundImageId, backgroundTexture);
    glFinish();
    SDL_GL_MakeCurrent(window, nullptr);  // the UI thread takes the context
    return true;
}

void runFrameLoopWith(void (*drawFrame)(), void (*prepare)()) {
    SDL_GL_MakeCurrent(window, glContext);
    ImGui_ImplSDL2_InitForOpenGL(window, glContext);
    ImGui_ImplOpenGL3_Init(GlslVersion);
    if (prepare) prepare();

    std::vector<SDL_Event> events;
    // The pointer as the motion events last put it, while it is over the window
    // (or the window holds the grab of a pressed button). The backend polls
    // SDL's global pointer state instead, which SDL refreshes only from raw
    // input events; where those do not come (synthetic input, some X servers)
    // the polled pointer stays where the button was pressed, and no slider
    // could be dragged.
    bool pointerKnown = false;
    bool heldBefore = false;
    ImVec2 pointer;
    for (;;) {
        eventQueue().drain(events);
        for (const SDL_Event& event : events) {
            if (event.type == SDL_MOUSEMOTION) {
                pointer = ImVec2(static_cast<float>(event.motion.x), static_cast<float>(event.motion.y));
                pointerKnown = true;
            } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_LEAVE) {
                pointerKnown = false;
            }
            ImGui_ImplSDL2_ProcessEvent(&event);
        }

        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplSDL2_NewFrame();
        // Held buttons, and the frame of their release, follow the motion events.
        const bool held = ImGui::IsAnyMouseDown();
        if (pointerKnown && (held || heldBefore)) ImGui::GetIO().MousePos = pointer;
        heldBefore = held;
        ImGui::NewFrame();
        drawFrame();
        ImGui::Render();

        const ImGuiIO& io = ImGui::GetIO();
        glViewport(0, 0, static_cast<int>(io.DisplaySize.x * io.DisplayFramebufferScale.x),
                   static_cast<int>(io.DisplaySize.y * io.DisplayFramebufferScale.y));
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
        SDL_GL_SwapWindow(window);
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
    }
}

}  // namespace starfell
