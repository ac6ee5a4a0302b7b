// The launcher window on Windows: a borderless Win32 popup with a Direct3D 8
// device. One thread creates it, handles its messages and draws the GUI, as
// the GUI library's own examples do, so input reaches the GUI once and in order.
#include <windows.h>
#include <windowsx.h>
#include <d3d8.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

#include "base/file_platform.h"
#include "base/message_box.h"
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
#include "ui/theme.h"
#include "ui/window.h"
#include "ui/window_layout.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace starfell {
namespace {

const char* const WindowClassName = "ImGui Example";

// The window and its device: made and used by the window's thread only.
WNDCLASSEXA windowClass{};
HWND window = nullptr;
IDirect3D8* direct3d = nullptr;
IDirect3DDevice8* device = nullptr;
D3DPRESENT_PARAMETERS presentParams{};
// Set by any thread to wake the window's thread from its wait for input.
HANDLE wakeEvent = nullptr;
// The GUI's platform backend is ready for the window's messages.
bool guiReady = false;

// A press, key, typed character or wheel turn: what a blocking call of the
// window's thread keeps from the GUI. Releases pass, so nothing stays held.
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

// The mouse button (0-4) or key (256 + virtual key) a message changes, or -1.
int controlOf(const MSG& m) {
    switch (m.message) {
        case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_LBUTTONUP: return 0;
        case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: case WM_RBUTTONUP: return 1;
        case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: case WM_MBUTTONUP: return 2;
        case WM_XBUTTONDOWN: case WM_XBUTTONDBLCLK: case WM_XBUTTONUP:
            return GET_XBUTTON_WPARAM(m.wParam) == XBUTTON1 ? 3 : 4;
        case WM_KEYDOWN: case WM_KEYUP: case WM_SYSKEYDOWN: case WM_SYSKEYUP:
            return m.wParam < 256 ? 256 + static_cast<int>(m.wParam) : -1;
        default:
            return -1;
    }
}

LRESULT WINAPI windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == messageBoxRequestMessage()) return answerMessageBoxRequest(lParam);
    if (guiReady && ImGui_ImplWin32_WndProcHandler(hwnd, message, wParam, lParam))
        return 1;
    switch (message) {
        case WM_PAINT:
            // Presented frames are not kept by the system: an uncovered or
            // restored window is drawn again. DefWindowProc validates it.
            frameDemand().requestRedraw();
            break;
        case WM_SIZE:
            if (device != nullptr && wParam != SIZE_MINIMIZED) {
                presentParams.BackBufferWidth = LOWORD(lParam);
                presentParams.BackBufferHeight = HIWORD(lParam);
            }
            frameDemand().requestRedraw();
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_KEYMENU) return 0;  // no window menu to enter
            break;
        case WM_CLOSE:
            endProcess(0);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Under Wine, Direct3D runs its commands on a thread of its own, whose frames
// go out over the X connection that the window's thread uses to make and paint
// its windows. libX11 can deadlock two threads on one connection when an X
// error arrives meanwhile, and a message box then stayed made but never shown.
// So the launcher asks Wine, for itself alone, to run them on the window's
// thread, unless the player has set this already. Read when d3d8.dll loads.
void keepDirect3DOnTheWindowThreadUnderWine() {
    const std::wstring path = fs::modulePath();
    if (!runsUnderWine() || path.empty()) return;
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" + path.substr(path.rfind(L'\\') + 1) + L"\\Direct3D";
    HKEY settings;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                        &settings, nullptr) != ERROR_SUCCESS)
        return;
    if (RegQueryValueExW(settings, L"csmt", nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND) {
        const DWORD off = 0;
        RegSetValueExW(settings, L"csmt", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof(off));
    }
    RegCloseKey(settings);
}

// Direct3D 8 from the system folder: game folders often carry a d3d8.dll
// wrapper, which the import table would pick up from the launcher's folder.
IDirect3D8* createDirect3D() {
    using CreateFunction = IDirect3D8*(WINAPI*)(UINT);
    keepDirect3DOnTheWindowThreadUnderWine();
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
    D3DPRESENT_PARAMETERS params = presentParams;
    const bool reset = device->Reset(&params) == D3D_OK;
    rendererCreateDeviceObjects();
    return reset;
}

namespace {

// Creates the window, its device and the GUI with its fonts, theme and
// background, on the thread that will handle the window's messages.
void createWindow() {
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
    ImGui_ImplWin32_Init(window);
    guiReady = true;
    rendererInit(device);
    if (rendererCreateDeviceObjects()) releaseFontBuildData();
    loadImageResource(resources::BackgroundImageId, backgroundTexture);

    const WindowPosition position =
        centredWindowPosition(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    SetWindowPos(window, HWND_TOP, position.x, position.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);
    setMessageBoxOwner(window);
    messageBoxWindowShown();
}

// Where the mouse messages put the pointer, in client coordinates, for the
// GUI: the backend reads the live cursor only while the window is its
// "hovered" or the foreground window, and under Wine with no window manager
// it was neither for many clicks (a counter of 52 clicks reached 29).
struct Pointer {
    bool known = false;
    int x = 0, y = 0;
} pointer;

void followPointer(const MSG& m) {
    if (m.message == WM_MOUSELEAVE) {
        if (GetCapture() != window) pointer.known = false;
    } else if (m.message == WM_MOUSEMOVE || (controlOf(m) >= 0 && controlOf(m) < 256)) {
        pointer = {true, GET_X_LPARAM(m.lParam), GET_Y_LPARAM(m.lParam)};
    }
}

// Presses made during a blocking call of this thread (GetTickCount() times, as
// messages carry them): they were meant for what the call showed.
DWORD droppedFrom = 0, droppedUntil = 0;

// The input that ends a frame's share, held for the next pass.
MSG heldInput;
bool inputHeld = false;

// Waits up to `timeoutMs` for a message or a wake-up, then handles every
// message there is, up to the second change of one button or key: this GUI
// reads a button or key as up or down once a frame, so a press and its release
// in one frame (a quick click, `xdotool key`) would be lost. That message is
// held for the next frame, as is a button change after moves, so that the GUI
// sees the moves with the button as it was (a drag ends where it ended); a
// press ends the frame's messages, so that the GUI takes it where it was made.
// Returns whether the GUI got input.
bool readMessages(DWORD timeoutMs) {
    if (!inputHeld) MsgWaitForMultipleObjectsEx(1, &wakeEvent, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    int changed[8];
    int changedCount = 0;
    bool moved = false;
    bool input = false;
    MSG msg;
    for (;;) {
        if (inputHeld) {
            msg = heldInput;
            inputHeld = false;
        } else if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            break;
        }
        const int control = controlOf(msg);
        if (control >= 0) {
            const bool button = control < 256;
            if (std::find(changed, changed + changedCount, control) != changed + changedCount || changedCount == 8 ||
                (button && moved)) {
                heldInput = msg;
                inputHeld = true;
                break;
            }
            changed[changedCount++] = control;
        }
        const bool press = isPress(msg.message);
        if (press && droppedUntil != droppedFrom && msg.time - droppedFrom <= droppedUntil - droppedFrom) continue;
        if (press || control >= 0 || msg.message == WM_MOUSEMOVE || msg.message == WM_MOUSELEAVE) input = true;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        followPointer(msg);
        if (msg.message == WM_MOUSEMOVE) moved = true;
        if (control >= 0 && control < 256 && isPress(msg.message)) break;  // taken where it was made
    }
    return input;
}

}  // namespace

void runLauncherWindow(void (*drawFrame)(), void (*prepare)(), bool (*contentChanged)()) {
    wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    messageBoxWindowComing();
    createWindow();
    if (prepare) prepare();
    DWORD lastFrame = GetTickCount() - FrameIntervalMs;
    for (;;) {
        // Frames at most every FrameIntervalMs; between them the thread sleeps
        // in the wait for input, up to IdleWaitMs when nothing is to be drawn.
        const DWORD sinceFrame = GetTickCount() - lastFrame;
        const DWORD wait = !frameDemand().wantsFrame() ? IdleWaitMs
                           : sinceFrame < FrameIntervalMs ? FrameIntervalMs - sinceFrame : 0;
        const bool input = readMessages(wait);
        const bool changed = contentChanged != nullptr && contentChanged();
        if (!frameDemand().shouldDraw(input, changed)) continue;
        // With input held for the next pass, the GUI takes this pass's share
        // without showing it: a backlog (a loaded machine, keys typed fast) is
        // caught up at the GUI's pace, not at the display's.
        const bool catchingUp = inputHeld;
        if (!catchingUp) {
            if (GetTickCount() - lastFrame < FrameIntervalMs) Sleep(FrameIntervalMs - (GetTickCount() - lastFrame));
            lastFrame = GetTickCount();
        }

        rendererNewFrame();
        ImGui_ImplWin32_NewFrame();
        if (pointer.known) ImGui::GetIO().MousePos = ImVec2(static_cast<float>(pointer.x), static_cast<float>(pointer.y));
        ImGui::NewFrame();
        drawFrame();
        ImGui::EndFrame();
        if (catchingUp) continue;

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
    }
}

void wakeLauncherWindow() {
    if (wakeEvent != nullptr) SetEvent(wakeEvent);
}

void minimiseLauncherWindow() {
    if (window == nullptr) return;
    ShowWindowAsync(window, SW_MINIMIZE);  // posted: the window's thread acts on it
    if (wakeEvent != nullptr) SetEvent(wakeEvent);
}

void withoutWindowInput(const std::function<void()>& blockingCall) {
    droppedFrom = GetTickCount();
    blockingCall();
    droppedUntil = GetTickCount();
}

}  // namespace starfell
