// The launcher window on Windows: a borderless Win32 popup with a Direct3D 8
// device, the UI thread's frame loop and the main thread's message pump.
#include <windows.h>
#include <windowsx.h>
#include <d3d8.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "base/process_end.h"
#include "base/system_libraries_win32.h"
#include "core/launcher_config.h"
#include "imgui.h"
#include "imgui_impl_win32.h"
#include "resources/embedded.h"
#include "ui/device_win32.h"
#include "ui/frame_demand.h"
#include "ui/images.h"
#include "ui/imgui_impl_dx8.h"
#include "ui/input_gate.h"
#include "ui/input_replay.h"
#include "ui/locked_queue.h"
#include "ui/theme.h"
#include "ui/window.h"
#include "ui/window_layout.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace starfell {
namespace {

const char* const WindowClassName = "ImGui Example";

struct QueuedMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// LauncherWindow and RenderDevice: made on the main thread before the UI thread starts.
WNDCLASSEXA windowClass{};
HWND window = nullptr;
DWORD mainThreadId = 0;
IDirect3D8* direct3d = nullptr;
IDirect3DDevice8* device = nullptr;
D3DPRESENT_PARAMETERS presentParams{};

// The back-buffer size from WM_SIZE (main thread), read by a reset (UI thread).
std::mutex& backBufferMutex() {
    static std::mutex* mutex = new std::mutex;  // never destroyed: exit() may run while the UI thread draws
    return *mutex;
}

// The pointer shape the GUI asks for (an ImGuiMouseCursor), from the UI
// thread's frames to the window procedure, which sets it on WM_SETCURSOR.
std::atomic<int> wantedCursor{ImGuiMouseCursor_Arrow};

// The system cursor for a GUI cursor; null hides it.
HCURSOR systemCursor(int guiCursor) {
    LPCTSTR name = IDC_ARROW;
    switch (guiCursor) {
        case ImGuiMouseCursor_None: return nullptr;
        case ImGuiMouseCursor_TextInput: name = IDC_IBEAM; break;
        case ImGuiMouseCursor_ResizeAll: name = IDC_SIZEALL; break;
        case ImGuiMouseCursor_ResizeEW: name = IDC_SIZEWE; break;
        case ImGuiMouseCursor_ResizeNS: name = IDC_SIZENS; break;
        case ImGuiMouseCursor_ResizeNESW: name = IDC_SIZENESW; break;
        case ImGuiMouseCursor_ResizeNWSE: name = IDC_SIZENWSE; break;
        case ImGuiMouseCursor_Hand: name = IDC_HAND; break;
        case ImGuiMouseCursor_NotAllowed: name = IDC_NO; break;
        default: break;
    }
    return LoadCursor(nullptr, name);
}

// Input for the GUI, from the window procedure (main thread) to the frame loop (UI thread).
LockedQueue<QueuedMessage>& inputQueue() {
    static auto* queue = new LockedQueue<QueuedMessage>(4096);  // never destroyed, as above
    return *queue;
}

bool isGuiInput(UINT message) {
    switch (message) {
        case WM_MOUSEMOVE: case WM_MOUSELEAVE:
        case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_LBUTTONUP:
        case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: case WM_RBUTTONUP:
        case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: case WM_MBUTTONUP:
        case WM_XBUTTONDOWN: case WM_XBUTTONDBLCLK: case WM_XBUTTONUP:
        case WM_MOUSEWHEEL: case WM_MOUSEHWHEEL:
        case WM_KEYDOWN: case WM_KEYUP: case WM_SYSKEYDOWN: case WM_SYSKEYUP:
        case WM_SETFOCUS: case WM_KILLFOCUS: case WM_CHAR: case WM_DEVICECHANGE:
            return true;
        default:
            return false;
    }
}

// A press, key, typed character or wheel turn: what the window drops while the
// UI thread is blocked. Releases pass, so nothing stays held.
bool isPress(UINT message) {
    switch (message) {
        case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: case WM_XBUTTONDOWN: case WM_XBUTTONDBLCLK:
        case WM_MOUSEWHEEL: case WM_MOUSEHWHEEL: case WM_KEYDOWN: case WM_SYSKEYDOWN: case WM_CHAR:
            return true;
        default:
            return false;
    }
}

// The mouse button (0-4) or key (FirstKeyControl + virtual key) a message changes, or -1.
int controlOf(const QueuedMessage& m) {
    switch (m.message) {
        case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_LBUTTONUP: return 0;
        case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: case WM_RBUTTONUP: return 1;
        case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: case WM_MBUTTONUP: return 2;
        case WM_XBUTTONDOWN: case WM_XBUTTONDBLCLK: case WM_XBUTTONUP:
            return GET_XBUTTON_WPARAM(m.wParam) == XBUTTON1 ? 3 : 4;
        case WM_KEYDOWN: case WM_KEYUP: case WM_SYSKEYDOWN: case WM_SYSKEYUP:
            return m.wParam < 256 ? FirstKeyControl + static_cast<int>(m.wParam) : -1;
        default:
            return -1;
    }
}

// Follows the pointer through the replayed mouse messages, which carry the
// position (client coordinates) where they were made.
void followPointer(const QueuedMessage& m, ImVec2& pointer, bool& known) {
    switch (m.message) {
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_LBUTTONUP:
        case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: case WM_RBUTTONUP:
        case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: case WM_MBUTTONUP:
        case WM_XBUTTONDOWN: case WM_XBUTTONDBLCLK: case WM_XBUTTONUP:
            pointer = ImVec2(static_cast<float>(GET_X_LPARAM(m.lParam)), static_cast<float>(GET_Y_LPARAM(m.lParam)));
            known = true;
            break;
        case WM_MOUSELEAVE:
            known = false;
            break;
        default:
            break;
    }
}

// The modifier keys as the replayed messages left them. The backend asks
// GetKeyState() as it replays a Ctrl, Shift or Alt key, which tells how the
// keyboard is now: a Ctrl+click replayed after its Ctrl was let go would be a
// plain click, and Ctrl+A typed text. Mouse messages carry Ctrl and Shift too.
struct Modifiers {
    bool ctrl = false;
    bool shift = false;
    bool alt = false;
};

void followModifiers(const QueuedMessage& m, Modifiers& held) {
    switch (m.message) {
        case WM_KEYDOWN: case WM_KEYUP: case WM_SYSKEYDOWN: case WM_SYSKEYUP: {
            const bool down = m.message == WM_KEYDOWN || m.message == WM_SYSKEYDOWN;
            if (m.wParam == VK_CONTROL) held.ctrl = down;
            if (m.wParam == VK_SHIFT) held.shift = down;
            if (m.wParam == VK_MENU) held.alt = down;
            break;
        }
        case WM_MOUSEMOVE: case WM_MOUSEWHEEL: case WM_MOUSEHWHEEL:
        case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_LBUTTONUP:
        case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: case WM_RBUTTONUP:
        case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: case WM_MBUTTONUP:
        case WM_XBUTTONDOWN: case WM_XBUTTONDBLCLK: case WM_XBUTTONUP:
            held.ctrl = (GET_KEYSTATE_WPARAM(m.wParam) & MK_CONTROL) != 0;
            held.shift = (GET_KEYSTATE_WPARAM(m.wParam) & MK_SHIFT) != 0;
            break;
        case WM_KILLFOCUS:
            held = Modifiers();  // their releases go to the window that takes the focus
            break;
        default:
            break;
    }
}

LRESULT WINAPI windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // The GUI lives on the UI thread: its input is queued and replayed there.
    if (isGuiInput(message) && (!isPress(message) || windowInputGate().admits()))
        inputQueue().push({hwnd, message, wParam, lParam});
    switch (message) {
        case WM_MOUSEMOVE: {
            // Leave notifications must be asked for by the thread that owns the window.
            TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, hwnd, 0};
            TrackMouseEvent(&track);
            break;
        }
        case WM_SETCURSOR:
            // The class has no cursor of its own; the launcher shows the one the
            // GUI asks for (the arrow, a text cursor over a text entry).
            if (LOWORD(lParam) == HTCLIENT) {
                SetCursor(systemCursor(wantedCursor.load(std::memory_order_relaxed)));
                return 1;
            }
            break;
        case WM_PAINT:
            // Presented frames are not kept by the system: an uncovered or
            // restored window is drawn again. DefWindowProc validates it.
            frameDemand().requestRedraw();
            break;
        case WM_SIZE:
            if (device != nullptr && wParam != SIZE_MINIMIZED) {
                std::lock_guard<std::mutex> lock(backBufferMutex());
                presentParams.BackBufferWidth = LOWORD(lParam);
                presentParams.BackBufferHeight = HIWORD(lParam);
            }
            frameDemand().requestRedraw();
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_KEYMENU) return 0;  // no window menu to enter
            break;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_CLOSE:
            endProcess(0);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Direct3D 8 from the system folder: game folders often carry a d3d8.dll
// wrapper, which the import table would pick up from the launcher's folder.
IDirect3D8* createDirect3D() {
    using CreateFunction = IDirect3D8*(WINAPI*)(UINT);
    HMODULE library = loadSystemLibrary(L"d3d8.dll");
    if (!library) return nullptr;
    auto create = reinterpret_cast<CreateFunction>(reinterpret_cast<void*>(GetProcAddress(library, "Direct3DCreate8")));
    return create ? create(220) : nullptr;
}

bool createDevice() {
    direct3d = createDirect3D();
    if (!direct3d) return false;
    D3DDISPLAYMODE mode;
    if (direct3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode) != D3D_OK) return false;
    ZeroMemory(&presentParams, sizeof(presentParams));
    presentParams.BackBufferFormat = mode.Format;
    presentParams.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentParams.Windowed = TRUE;
    presentParams.EnableAutoDepthStencil = TRUE;
    presentParams.AutoDepthStencilFormat = D3DFMT_D16;
    return direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                  &presentParams, &device) == D3D_OK &&
           device;
}

void releaseDevice() {
    if (device) {
        device->Release();
        device = nullptr;
    }
    if (direct3d) {
        direct3d->Release();
        direct3d = nullptr;
    }
}

}  // namespace

IDirect3DDevice8* launcherDevice() { return device; }

bool resetLauncherDevice() {
    rendererInvalidateDeviceObjects();
    D3DPRESENT_PARAMETERS params;
    {
        std::lock_guard<std::mutex> lock(backBufferMutex());
        params = presentParams;
    }
    const bool reset = device->Reset(&params) == D3D_OK;
    rendererCreateDeviceObjects();
    return reset;
}

bool createLauncherWindow() {
    mainThreadId = GetCurrentThreadId();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_CLASSDC;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(resources::WindowIconId));
    windowClass.lpszClassName = WindowClassName;
    RegisterClassExA(&windowClass);

    window = CreateWindowExA(0, WindowClassName, launcherConfig().BrandName.c_str(), WS_POPUP, 100, 100, WindowWidth,
                             WindowHeight, nullptr, nullptr, instance, nullptr);
    if (!window || !createDevice()) {
        releaseDevice();
        UnregisterClassA(WindowClassName, instance);
        endProcess(1);
    }
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);

    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    // A device that takes other sizes than powers of two (clamped, as the
    // renderer draws every texture) gets the atlas at its own height: the rows
    // beyond its last glyph would only round it up to a power of two.
    if (!deviceTextureLimits(device).powersOfTwoOnly) io.Fonts->Flags |= ImFontAtlasFlags_NoPowerOfTwoHeight;
    setupFontsAndTheme();
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard | ImGuiConfigFlags_NavEnableGamepad;

    const WindowPosition position =
        centredWindowPosition(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    SetWindowPos(window, HWND_TOP, position.x, position.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

    loadImageResource(resources::BackgroundImageId, backgroundTexture);
    return true;
}

void runFrameLoopWith(void (*drawFrame)(), void (*prepare)(), bool (*contentChanged)()) {
    // Share the main thread's input state, so that the platform backend's key
    // state, capture and cursor calls on this thread act on the launcher window.
    MSG first;
    PeekMessageA(&first, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // gives this thread its message queue
    AttachThreadInput(GetCurrentThreadId(), mainThreadId, TRUE);
    ImGui_ImplWin32_Init(window);
    rendererInit(device);
    if (rendererCreateDeviceObjects()) releaseFontBuildData();
    if (prepare) prepare();

    std::vector<QueuedMessage> input, pending;
    ImVec2 pointer;
    bool pointerKnown = false;
    Modifiers modifiers;
    for (;;) {
        // This thread's own queue (the window's messages go to the main thread)
        bool quit = false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (msg.message == WM_QUIT) quit = true;
        }
        if (quit) break;

        // Input, as much as one frame can take without losing a press or release
        inputQueue().drain(input);
        pending.insert(pending.end(), input.begin(), input.end());
        const size_t portion = framePortion(pending, controlOf);
        for (size_t i = 0; i < portion; ++i) {
            const QueuedMessage& m = pending[i];
            ImGui_ImplWin32_WndProcHandler(m.window, m.message, m.wParam, m.lParam);
            followPointer(m, pointer, pointerKnown);
            followModifiers(m, modifiers);
        }
        pending.erase(pending.begin(), pending.begin() + portion);

        const bool changed = contentChanged != nullptr && contentChanged();
        if (!frameDemand().shouldDraw(portion > 0, changed)) {
            Sleep(10);
            continue;
        }

        rendererNewFrame();
        ImGui_ImplWin32_NewFrame();
        // The backend reads the live cursor and key state, which may have moved on
        // from the replayed messages (a late frame would press what the pointer has
        // moved on to, or lose the Ctrl of a Ctrl+click let go meanwhile): the GUI
        // sees the pointer and modifiers as the replayed messages left them.
        ImGuiIO& io = ImGui::GetIO();
        if (pointerKnown) io.MousePos = pointer;
        io.KeyCtrl = modifiers.ctrl;
        io.KeyShift = modifiers.shift;
        io.KeyAlt = modifiers.alt;
        ImGui::NewFrame();
        drawFrame();
        ImGui::EndFrame();
        wantedCursor.store(ImGui::GetIO().MouseDrawCursor ? ImGuiMouseCursor_None : ImGui::GetMouseCursor(),
                           std::memory_order_relaxed);

        device->SetRenderState(D3DRS_ZENABLE, FALSE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        if (device->BeginScene() == D3D_OK) {
            ImGui::Render();
            rendererRenderDrawData(ImGui::GetDrawData());
            device->EndScene();
        }
        const HRESULT presented = device->Present(nullptr, nullptr, nullptr, nullptr);
        if (presented == D3DERR_DEVICELOST) {
            // Tried again every pass until the device can be reset, and drawn once it is.
            if (device->TestCooperativeLevel() == D3DERR_DEVICENOTRESET) resetLauncherDevice();
            frameDemand().requestRedraw();
        }
        frameDemand().noteGuiBusy(guiIsBusy());
        Sleep(10);
    }

    // Never reached in practice: nothing posts WM_QUIT to this thread. The window
    // belongs to the main thread and cannot be destroyed from here; it is left alone.
    rendererShutdown();
    ImGui_ImplWin32_Shutdown();
    ImGui::DestroyContext();
    releaseDevice();
    releaseImage(backgroundTexture);
}

void minimiseLauncherWindow() { ShowWindow(window, SW_MINIMIZE); }

void pumpMessagesForever() {
    for (;;) {
        Sleep(10);
        MSG msg;
        if (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else {
            windowInputGate().allMessagesRead();
        }
    }
}

}  // namespace starfell
