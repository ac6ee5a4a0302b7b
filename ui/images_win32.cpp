// Built-in pictures on Windows: the "PNG" resource decoded into a managed
// A8R8G8B8 texture (stands in for a PNG-in-memory texture helper).
#include <windows.h>
#include <d3d8.h>

#include <cstring>

#include "ui/device_win32.h"
#include "ui/images.h"

namespace starfell {
namespace {

int nextPowerOfTwo(int value) {
    int result = 1;
    while (result < value) result <<= 1;
    return result;
}

// Nearest-neighbour scaling, for adapters that only take power-of-two textures;
// the picture is drawn with texture coordinates 0..1 either way.
DecodedImage scaled(const DecodedImage& image, int width, int height) {
    DecodedImage out;
    out.width = width;
    out.height = height;
    out.pixels.resize(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        const int sy = static_cast<int>(static_cast<long long>(y) * image.height / height);
        for (int x = 0; x < width; ++x) {
            const int sx = static_cast<int>(static_cast<long long>(x) * image.width / width);
            std::memcpy(&out.pixels[(static_cast<size_t>(y) * width + x) * 4],
                        &image.pixels[(static_cast<size_t>(sy) * image.width + sx) * 4], 4);
        }
    }
    return out;
}

IDirect3DTexture8* createTexture(IDirect3DDevice8* device, const DecodedImage& decoded) {
    D3DCAPS8 caps{};
    const DecodedImage* image = &decoded;
    DecodedImage resized;
    if (device->GetDeviceCaps(&caps) == D3D_OK && (caps.TextureCaps & D3DPTEXTURECAPS_POW2) &&
        !(caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL)) {
        resized = scaled(decoded, nextPowerOfTwo(decoded.width), nextPowerOfTwo(decoded.height));
        image = &resized;
    }
    IDirect3DTexture8* texture = nullptr;
    if (device->CreateTexture(image->width, image->height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture) != D3D_OK ||
        !texture)
        return nullptr;
    D3DLOCKED_RECT locked;
    if (texture->LockRect(0, &locked, nullptr, 0) != D3D_OK) {
        texture->Release();
        return nullptr;
    }
    const size_t rowBytes = static_cast<size_t>(image->width) * 4;
    for (int y = 0; y < image->height; ++y)
        std::memcpy(static_cast<unsigned char*>(locked.pBits) + static_cast<size_t>(locked.Pitch) * y,
                    &image->pixels[rowBytes * y], rowBytes);
    texture->UnlockRect(0);
    return texture;
}

}  // namespace

void loadImageResource(int id, ImTextureID& slot) {
    IDirect3DDevice8* device = launcherDevice();
    if (!device) return;
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), "PNG");
    if (!found) return;
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded) return;
    const DWORD size = SizeofResource(module, found);
    const void* bytes = LockResource(loaded);  // stays mapped for the process's lifetime
    DecodedImage image;
    if (!bytes || !decodePng(bytes, size, PixelOrder::BGRA, image)) return;
    if (IDirect3DTexture8* texture = createTexture(device, image)) slot = static_cast<ImTextureID>(texture);
}

void releaseImage(ImTextureID& slot) {
    if (slot) static_cast<IDirect3DTexture8*>(slot)->Release();
    slot = nullptr;
}

}  // namespace starfell
