// Benchmark reference, not shipped: an empty Direct3D 8 window of the
// launcher's size and device settings, cleared and presented every pass with
// the launcher's message pump and 10 ms sleep, so bench/idle can put the
// Windows build's idle cost under Wine beside it. With --draw it also draws
// one blended quad textured with a picture of the window's size, from a
// dynamic vertex buffer: the least a window that shows a picture costs, for comparison.
#include <windows.h>
#include <d3d8.h>

#include <cstring>

namespace {

constexpr int kWidth = 950, kHeight = 530;

struct Vertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u, v;
};
constexpr DWORD kVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// The quad's buffer and texture, left set on the device for every pass.
bool prepareQuad(IDirect3DDevice8* device) {
    IDirect3DVertexBuffer8* buffer = nullptr;
    if (device->CreateVertexBuffer(4 * sizeof(Vertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kVertexFormat,
                                   D3DPOOL_DEFAULT, &buffer) != D3D_OK)
        return false;
    BYTE* data = nullptr;
    if (buffer->Lock(0, 0, &data, D3DLOCK_DISCARD) != D3D_OK) return false;
    const Vertex corners[4] = {{0, 0, 0, 1, 0xFFFFFFFF, 0, 0},
                               {kWidth, 0, 0, 1, 0xFFFFFFFF, 1, 0},
                               {0, kHeight, 0, 1, 0xFFFFFFFF, 0, 1},
                               {kWidth, kHeight, 0, 1, 0xFFFFFFFF, 1, 1}};
    std::memcpy(data, corners, sizeof corners);
    buffer->Unlock();

    IDirect3DTexture8* texture = nullptr;
    if (device->CreateTexture(kWidth, kHeight, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture) != D3D_OK)
        return false;
    D3DLOCKED_RECT locked;
    if (texture->LockRect(0, &locked, nullptr, 0) != D3D_OK) return false;
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + locked.Pitch * y);
        for (int x = 0; x < kWidth; ++x) row[x] = 0xFF000000u | static_cast<DWORD>((x * 7 + y * 3) & 0xFFFFFF);
    }
    texture->UnlockRect(0);

    device->SetVertexShader(kVertexFormat);
    device->SetStreamSource(0, buffer, sizeof(Vertex));
    device->SetTexture(0, texture);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    return true;
}

LRESULT WINAPI windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    const bool draw = commandLine && std::strstr(commandLine, "--draw");
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_CLASSDC;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "idle reference";
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, "idle reference", "idle reference", WS_POPUP, 485, 275, kWidth, kHeight, nullptr,
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
    if (draw && !prepareQuad(device)) return 1;
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
        if (device->BeginScene() == D3D_OK) {
            if (draw) device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
            device->EndScene();
        }
        device->Present(nullptr, nullptr, nullptr, nullptr);
        Sleep(10);
    }
}
