// Built-in pictures on Windows: the "PNG" resource decoded into a managed
// A8R8G8B8 texture (stands in for a PNG-in-memory texture helper).
#include <windows.h>
#include <d3d8.h>

#include <cstring>

#include "ui/device_win32.h"
#include "ui/images.h"

namespace starfell {
namespace {

IDirect3DTexture8* createTexture(IDirect3DDevice8* device, const DecodedImage& decoded) {
    // The picture is drawn with texture coordinates 0..1, so a resized texture
    // still fills the same rectangle.
    const DecodedImage* image = &decoded;
    DecodedImage resized;
    const ImageSize size = textureSizeFor(decoded.width, decoded.height, deviceTextureLimits(device));
    if (size.width != decoded.width || size.height != decoded.height) {
        resized = resizedImage(decoded, size.width, size.height);
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

// What the device takes: with only D3DPTEXTURECAPS_POW2 every side must be a
// power of two; with NONPOW2CONDITIONAL as well, any size draws as long as the
// texture is addressed clamped (the renderer clamps every texture).
TextureLimits deviceTextureLimits(IDirect3DDevice8* device) {
    TextureLimits limits;
    D3DCAPS8 caps{};
    if (device->GetDeviceCaps(&caps) != D3D_OK) return limits;
    limits.powersOfTwoOnly =
        (caps.TextureCaps & D3DPTEXTURECAPS_POW2) && !(caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL);
    limits.squareOnly = (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) != 0;
    limits.maxWidth = static_cast<int>(caps.MaxTextureWidth);
    limits.maxHeight = static_cast<int>(caps.MaxTextureHeight);
    return limits;
}

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
