// Benchmark reference, not shipped: an empty Direct3D 8 window of the
// launcher's size and device settings, cleared and presented every pass with
// the launcher's message pump and 10 ms sleep, so bench/idle can put the
// Windows build's idle cost under Wine beside it.
#include <windows.h>
#include <d3d8.h>

namespace {

LRESULT WINAPI windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_CLASSDC;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "idle reference";
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, "idle reference", "idle reference", WS_POPUP, 485, 275, 950, 530, nullptr,
                                  nullptr, instance, nullptr);
    IDirect3D8* direct3d = Direct3DCreate8(D3D_SDK_VERSION);
    if (!window || !direct3d) return 1;
    D3DDISPLAYMODE mode;
    if (direct3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode) != D3D_OK) return 1;
    D3DPRESENT_PARAMETERS params{};
    params.BackBufferFormat = mode.Format;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.Windowed = TRUE;
    params.EnableAutoDepthStencil = TRUE;
    params.AutoDepthStencilFormat = D3DFMT_D16;
    IDirect3DDevice8* device = nullptr;
    if (direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                               &device) != D3D_OK)
        return 1;
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return 0;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        if (device->BeginScene() == D3D_OK) device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
        Sleep(10);
    }
}
