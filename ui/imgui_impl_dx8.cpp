// dear imgui: Renderer Backend for Direct3D 8 ("imgui_impl_dx8"); see imgui_impl_dx8.h.
#include "ui/imgui_impl_dx8.h"

#include <d3d8.h>

#include <cstring>

#include "base/diagnostics.h"

namespace starfell {
namespace {

struct RendererData {
    IDirect3DDevice8* device = nullptr;
    IDirect3DVertexBuffer8* vertexBuffer = nullptr;
    IDirect3DIndexBuffer8* indexBuffer = nullptr;
    IDirect3DVertexBuffer8* maskVertexBuffer = nullptr;
    IDirect3DTexture8* fontTexture = nullptr;
    int vertexBufferSize = 5000;
    int indexBufferSize = 10000;
    IDirect3DSurface8* stencilSurface = nullptr;  // null: the device offers no stencil, draws are unclipped
    bool stencilTried = false;                    // asked the device since the last reset
    IDirect3DSurface8* savedDepthSurface = nullptr;
    RECT maskRect{};  // the clip rectangle the stencil holds now; empty when none
};

// Depth-stencil formats with stencil bits, most stencil bits first; clipping needs one bit.
constexpr D3DFORMAT StencilFormats[] = {D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D15S1};
constexpr DWORD StencilRef = 1;
bool ignoreStencilFormats = false;

struct CustomVertex {
    float pos[3];
    D3DCOLOR col;
    float uv[2];
};
constexpr DWORD CustomVertexFormat = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
static_assert(sizeof(CustomVertex) == 24, "the vertex format is 24 bytes");
constexpr UINT MaskVertexCount = 6;

// The GUI packs RGBA with red in the lowest byte; Direct3D wants ARGB.
D3DCOLOR toArgb(ImU32 c) { return (c & 0xFF00FF00) | ((c & 0xFF0000) >> 16) | ((c & 0xFF) << 16); }

RendererData* backendData() {
    return ImGui::GetCurrentContext() ? static_cast<RendererData*>(ImGui::GetIO().BackendRendererUserData)
                                      : nullptr;
}

template <class T>
void releaseAndClear(T*& object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

// The best stencil format the device offers for its render target, or D3DFMT_UNKNOWN.
D3DFORMAT bestStencilFormat(IDirect3DDevice8* device) {
    if (ignoreStencilFormats) return D3DFMT_UNKNOWN;
    D3DCAPS8 caps{};
    const DWORD needed = D3DSTENCILCAPS_KEEP | D3DSTENCILCAPS_REPLACE;
    if (device->GetDeviceCaps(&caps) != D3D_OK || (caps.StencilCaps & needed) != needed) return D3DFMT_UNKNOWN;
    D3DDEVICE_CREATION_PARAMETERS creation{};
    IDirect3D8* direct3d = nullptr;
    IDirect3DSurface8* target = nullptr;
    D3DDISPLAYMODE mode{};
    D3DSURFACE_DESC targetDesc{};
    D3DFORMAT found = D3DFMT_UNKNOWN;
    if (device->GetCreationParameters(&creation) == D3D_OK && device->GetDirect3D(&direct3d) == D3D_OK &&
        direct3d && direct3d->GetAdapterDisplayMode(creation.AdapterOrdinal, &mode) == D3D_OK &&
        device->GetRenderTarget(&target) == D3D_OK && target && target->GetDesc(&targetDesc) == D3D_OK) {
        for (D3DFORMAT format : StencilFormats) {
            if (direct3d->CheckDeviceFormat(creation.AdapterOrdinal, creation.DeviceType, mode.Format,
                                            D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, format) == D3D_OK &&
                direct3d->CheckDepthStencilMatch(creation.AdapterOrdinal, creation.DeviceType, mode.Format,
                                                 targetDesc.Format, format) == D3D_OK) {
                found = format;
                break;
            }
        }
    }
    releaseAndClear(target);
    releaseAndClear(direct3d);
    return found;
}

// The stencil states both passes share, and no mask yet.
void setupClipping(RendererData* bd) {
    IDirect3DDevice8* device = bd->device;
    bd->maskRect = RECT{};
    device->SetRenderState(D3DRS_STENCILENABLE, bd->stencilSurface ? TRUE : FALSE);
    if (!bd->stencilSurface) return;
    device->SetRenderState(D3DRS_STENCILMASK, 0xFF);
    device->SetRenderState(D3DRS_STENCILREF, StencilRef);
    device->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
}

void setupRenderState(ImDrawData* drawData) {
    RendererData* bd = backendData();
    IDirect3DDevice8* device = bd->device;

    // Viewport over the whole render target
    D3DVIEWPORT8 viewport{};
    D3DSURFACE_DESC targetDesc{};
    IDirect3DSurface8* target = nullptr;
    if (device->GetRenderTarget(&target) == D3D_OK && target) {
        target->GetDesc(&targetDesc);
    } else {
        targetDesc.Width = static_cast<UINT>(drawData->DisplaySize.x);
        targetDesc.Height = static_cast<UINT>(drawData->DisplaySize.y);
    }
    viewport.Width = targetDesc.Width;
    viewport.Height = targetDesc.Height;
    viewport.MaxZ = 1.0f;
    device->SetViewport(&viewport);

    // Our own depth-stencil surface in place of the device's (which has no stencil bits)
    if (!bd->savedDepthSurface) device->GetDepthStencilSurface(&bd->savedDepthSurface);
    if (target && bd->stencilSurface) device->SetRenderTarget(target, bd->stencilSurface);
    releaseAndClear(target);

    // Fixed pipeline, alpha blending, no culling, no depth test
    device->SetPixelShader(0);
    device->SetVertexShader(CustomVertexFormat);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetRenderState(D3DRS_RANGEFOGENABLE, FALSE);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetRenderState(D3DRS_CLIPPING, TRUE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN |
                                                       D3DCOLORWRITEENABLE_BLUE | D3DCOLORWRITEENABLE_ALPHA);
    // Clamped: a card that takes other sizes than powers of two only on that
    // condition draws the background picture at its own size.
    device->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);

    // Orthographic projection over the display rectangle, shifted half a pixel
    // so that GUI pixel edges fall on Direct3D 8 pixel centres
    const float L = drawData->DisplayPos.x + 0.5f;
    const float R = L + static_cast<float>(targetDesc.Width);
    const float T = drawData->DisplayPos.y + 0.5f;
    const float B = T + static_cast<float>(targetDesc.Height);
    const D3DMATRIX identity = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}};
    const D3DMATRIX projection = {{{2.0f / (R - L), 0, 0, 0,
                                    0, 2.0f / (T - B), 0, 0,
                                    0, 0, 0.5f, 0,
                                    (L + R) / (L - R), (T + B) / (B - T), 0.5f, 1.0f}}};
    device->SetTransform(D3DTS_WORLD, &identity);
    device->SetTransform(D3DTS_VIEW, &identity);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    setupClipping(bd);
}

// Writes the clip rectangle as two triangles into the mask buffer.
bool writeMask(RendererData* bd, float left, float top, float right, float bottom) {
    BYTE* bytes = nullptr;
    if (bd->maskVertexBuffer->Lock(0, MaskVertexCount * sizeof(CustomVertex), &bytes, D3DLOCK_DISCARD) != D3D_OK)
        return false;
    const float corners[MaskVertexCount][2] = {{left, bottom}, {left, top}, {right, top},
                                               {left, bottom}, {right, top}, {right, bottom}};
    CustomVertex* v = reinterpret_cast<CustomVertex*>(bytes);
    for (UINT i = 0; i < MaskVertexCount; ++i) v[i] = CustomVertex{{corners[i][0], corners[i][1], 0.0f}, 0xFFFFFFFF, {0, 0}};
    bd->maskVertexBuffer->Unlock();
    return true;
}

// Stencil StencilRef inside the mask buffer's rectangle, 0 elsewhere; leaves
// the states of the draw pass (stencil equal, nothing written, blending on).
void drawMask(RendererData* bd) {
    IDirect3DDevice8* device = bd->device;
    // Blending that keeps the target as it is, rather than colour write masks,
    // which not every card offers.
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_STENCILWRITEMASK, 0xFF);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
    device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0);
    device->SetStreamSource(0, bd->maskVertexBuffer, sizeof(CustomVertex));
    device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2);

    device->SetStreamSource(0, bd->vertexBuffer, sizeof(CustomVertex));
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_STENCILWRITEMASK, 0);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
}

// Luminance and alpha, two bytes a texel, where the device takes it: an atlas
// without coloured glyphs is white with alpha, so it draws the same as in
// A8R8G8B8 at half the memory (the texture and the managed pool's copy).
bool takesLuminanceAlphaTextures(IDirect3DDevice8* device) {
    D3DDEVICE_CREATION_PARAMETERS creation{};
    IDirect3D8* direct3d = nullptr;
    D3DDISPLAYMODE mode{};
    const bool takes = device->GetCreationParameters(&creation) == D3D_OK && device->GetDirect3D(&direct3d) == D3D_OK &&
                       direct3d && direct3d->GetAdapterDisplayMode(creation.AdapterOrdinal, &mode) == D3D_OK &&
                       direct3d->CheckDeviceFormat(creation.AdapterOrdinal, creation.DeviceType, mode.Format, 0,
                                                   D3DRTYPE_TEXTURE, D3DFMT_A8L8) == D3D_OK;
    releaseAndClear(direct3d);
    return takes;
}

// One row of the built atlas in the texture's format.
void writeFontRow(const ImFontAtlas& atlas, int y, D3DFORMAT format, unsigned char* row) {
    const size_t first = static_cast<size_t>(atlas.TexWidth) * y;
    for (int x = 0; x < atlas.TexWidth; ++x) {
        if (format == D3DFMT_A8L8)
            reinterpret_cast<WORD*>(row)[x] = static_cast<WORD>(atlas.TexPixelsAlpha8[first + x] << 8 | 0xFF);
        else if (atlas.TexPixelsRGBA32)
            reinterpret_cast<D3DCOLOR*>(row)[x] = toArgb(atlas.TexPixelsRGBA32[first + x]);
        else
            reinterpret_cast<D3DCOLOR*>(row)[x] = static_cast<D3DCOLOR>(atlas.TexPixelsAlpha8[first + x]) << 24 | 0xFFFFFF;
    }
}

bool createFontsTexture() {
    ImFontAtlas& atlas = *ImGui::GetIO().Fonts;
    RendererData* bd = backendData();
    if (!atlas.TexPixelsAlpha8 && !atlas.TexPixelsRGBA32 && !atlas.Build()) return false;
    const D3DFORMAT format = atlas.TexPixelsAlpha8 && !atlas.TexPixelsUseColors && takesLuminanceAlphaTextures(bd->device)
                                 ? D3DFMT_A8L8
                                 : D3DFMT_A8R8G8B8;

    // Written once and kept across device resets: a managed texture, not a
    // dynamic one (Wine's Direct3D serves dynamic resources from 64 MiB chunks
    // of driver memory).
    IDirect3DTexture8* texture = nullptr;
    if (bd->device->CreateTexture(atlas.TexWidth, atlas.TexHeight, 1, 0, format, D3DPOOL_MANAGED, &texture) != D3D_OK ||
        !texture)
        return false;
    D3DLOCKED_RECT locked;
    if (texture->LockRect(0, &locked, nullptr, 0) != D3D_OK) {
        texture->Release();
        return false;
    }
    for (int y = 0; y < atlas.TexHeight; ++y)
        writeFontRow(atlas, y, format, static_cast<unsigned char*>(locked.pBits) + static_cast<size_t>(locked.Pitch) * y);
    texture->UnlockRect(0);
    bd->fontTexture = texture;
    atlas.SetTexID(static_cast<ImTextureID>(texture));
    return true;
}

// Once per device reset. Without a stencil format the launcher still draws,
// unclipped, and says so once.
void createStencilSurface() {
    RendererData* bd = backendData();
    if (bd->stencilTried) return;
    bd->stencilTried = true;
    const D3DFORMAT format = bestStencilFormat(bd->device);
    IDirect3DSurface8* depth = nullptr;
    D3DSURFACE_DESC desc{};
    if (format != D3DFMT_UNKNOWN && bd->device->GetDepthStencilSurface(&depth) == D3D_OK && depth) {
        const HRESULT described = depth->GetDesc(&desc);
        depth->Release();
        if (described == D3D_OK &&
            bd->device->CreateDepthStencilSurface(desc.Width, desc.Height, format, D3DMULTISAMPLE_NONE,
                                                  &bd->stencilSurface) != D3D_OK)
            bd->stencilSurface = nullptr;
    }
    static bool reported = false;
    if (!bd->stencilSurface && !reported) {
        reported = true;
        writeDiagnostic("The graphics device offers no stencil buffer: the window is drawn without clipping.");
    }
}

}  // namespace

void rendererIgnoreStencilFormats() { ignoreStencilFormats = true; }

bool rendererInit(IDirect3DDevice8* device) {
    ImGuiIO& io = ImGui::GetIO();
    IM_ASSERT(io.BackendRendererUserData == nullptr && "Already initialized a renderer backend!");
    RendererData* bd = IM_NEW(RendererData)();
    io.BackendRendererUserData = bd;
    io.BackendRendererName = "imgui_impl_dx8";
    io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;  // the base vertex adds ImDrawCmd::VtxOffset
    bd->device = device;
    bd->device->AddRef();
    return true;
}

void rendererShutdown() {
    RendererData* bd = backendData();
    if (!bd) return;
    ImGuiIO& io = ImGui::GetIO();
    rendererInvalidateDeviceObjects();
    if (bd->fontTexture) {
        releaseAndClear(bd->fontTexture);
        io.Fonts->SetTexID(nullptr);
    }
    releaseAndClear(bd->device);
    io.BackendFlags &= ~ImGuiBackendFlags_RendererHasVtxOffset;
    io.BackendRendererName = nullptr;
    io.BackendRendererUserData = nullptr;
    IM_DELETE(bd);
}

bool rendererCreateDeviceObjects() {
    RendererData* bd = backendData();
    if (!bd || !bd->device) return false;
    if (!bd->fontTexture && !createFontsTexture()) return false;
    createStencilSurface();
    return true;
}

void rendererInvalidateDeviceObjects() {
    RendererData* bd = backendData();
    if (!bd || !bd->device) return;
    releaseAndClear(bd->vertexBuffer);
    releaseAndClear(bd->indexBuffer);
    releaseAndClear(bd->maskVertexBuffer);
    releaseAndClear(bd->stencilSurface);
    bd->stencilTried = false;
    // The font texture is managed and survives a reset; it is kept, as the
    // atlas's pixels it was made from may be gone (releaseFontBuildData).
}

void rendererNewFrame() {
    RendererData* bd = backendData();
    IM_ASSERT(bd != nullptr && "rendererInit was not called");
    if (!bd->fontTexture || !bd->stencilTried) rendererCreateDeviceObjects();
}

void rendererRenderDrawData(ImDrawData* drawData) {
    // Nothing to draw into while minimised
    if (drawData->DisplaySize.x <= 0.0f || drawData->DisplaySize.y <= 0.0f) return;
    RendererData* bd = backendData();
    IDirect3DDevice8* device = bd->device;

    // Create and grow the buffers, with headroom so that they are rarely made again
    if (!bd->vertexBuffer || bd->vertexBufferSize < drawData->TotalVtxCount) {
        releaseAndClear(bd->vertexBuffer);
        bd->vertexBufferSize = drawData->TotalVtxCount + 5000;
        if (device->CreateVertexBuffer(bd->vertexBufferSize * sizeof(CustomVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                       CustomVertexFormat, D3DPOOL_DEFAULT, &bd->vertexBuffer) != D3D_OK) {
            bd->vertexBuffer = nullptr;
            return;
        }
    }
    if (!bd->indexBuffer || bd->indexBufferSize < drawData->TotalIdxCount) {
        releaseAndClear(bd->indexBuffer);
        bd->indexBufferSize = drawData->TotalIdxCount + 10000;
        if (device->CreateIndexBuffer(bd->indexBufferSize * sizeof(ImDrawIdx), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                      sizeof(ImDrawIdx) == 2 ? D3DFMT_INDEX16 : D3DFMT_INDEX32, D3DPOOL_DEFAULT,
                                      &bd->indexBuffer) != D3D_OK) {
            bd->indexBuffer = nullptr;
            return;
        }
    }
    if (!bd->maskVertexBuffer &&
        device->CreateVertexBuffer(MaskVertexCount * sizeof(CustomVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                   CustomVertexFormat, D3DPOOL_DEFAULT, &bd->maskVertexBuffer) != D3D_OK) {
        bd->maskVertexBuffer = nullptr;
        return;
    }

    // Back up the device state (transforms are not part of a state block)
    DWORD stateBlock = 0;
    if (device->CreateStateBlock(D3DSBT_ALL, &stateBlock) != D3D_OK) return;
    device->CaptureStateBlock(stateBlock);
    D3DMATRIX lastWorld, lastView, lastProjection;
    device->GetTransform(D3DTS_WORLD, &lastWorld);
    device->GetTransform(D3DTS_VIEW, &lastView);
    device->GetTransform(D3DTS_PROJECTION, &lastProjection);

    // Copy all vertices and indices into the two buffers
    BYTE* vertexBytes = nullptr;
    BYTE* indexBytes = nullptr;
    if (drawData->TotalVtxCount > 0) {
        if (bd->vertexBuffer->Lock(0, drawData->TotalVtxCount * sizeof(CustomVertex), &vertexBytes, D3DLOCK_DISCARD) !=
            D3D_OK) {
            device->DeleteStateBlock(stateBlock);
            return;
        }
        if (bd->indexBuffer->Lock(0, drawData->TotalIdxCount * sizeof(ImDrawIdx), &indexBytes, D3DLOCK_DISCARD) !=
            D3D_OK) {
            bd->vertexBuffer->Unlock();
            device->DeleteStateBlock(stateBlock);
            return;
        }
        CustomVertex* vtxDst = reinterpret_cast<CustomVertex*>(vertexBytes);
        ImDrawIdx* idxDst = reinterpret_cast<ImDrawIdx*>(indexBytes);
        for (int n = 0; n < drawData->CmdListsCount; ++n) {
            const ImDrawList* list = drawData->CmdLists[n];
            for (const ImDrawVert& v : list->VtxBuffer)
                *vtxDst++ = CustomVertex{{v.pos.x, v.pos.y, 0.0f}, toArgb(v.col), {v.uv.x, v.uv.y}};
            std::memcpy(idxDst, list->IdxBuffer.Data, list->IdxBuffer.Size * sizeof(ImDrawIdx));
            idxDst += list->IdxBuffer.Size;
        }
        bd->vertexBuffer->Unlock();
        bd->indexBuffer->Unlock();
    }
    device->SetStreamSource(0, bd->vertexBuffer, sizeof(CustomVertex));
    device->SetIndices(bd->indexBuffer, 0);
    device->SetVertexShader(CustomVertexFormat);
    setupRenderState(drawData);

    // Draw every command inside its clip rectangle; the stencil mask is drawn
    // again only when the rectangle changes
    int globalVtxOffset = 0;
    int globalIdxOffset = 0;
    const ImVec2 clipOff = drawData->DisplayPos;
    for (int n = 0; n < drawData->CmdListsCount; ++n) {
        const ImDrawList* list = drawData->CmdLists[n];
        for (const ImDrawCmd& cmd : list->CmdBuffer) {
            if (cmd.UserCallback) {
                if (cmd.UserCallback == ImDrawCallback_ResetRenderState)
                    setupRenderState(drawData);
                else
                    cmd.UserCallback(list, &cmd);
                bd->maskRect = RECT{};  // a callback may have drawn into the stencil
                continue;
            }
            const LONG left = static_cast<LONG>(cmd.ClipRect.x - clipOff.x);
            const LONG top = static_cast<LONG>(cmd.ClipRect.y - clipOff.y);
            const LONG right = static_cast<LONG>(cmd.ClipRect.z - clipOff.x);
            const LONG bottom = static_cast<LONG>(cmd.ClipRect.w - clipOff.y);
            if (left >= right || top >= bottom) continue;
            device->SetTexture(0, static_cast<IDirect3DTexture8*>(cmd.GetTexID()));
            const RECT clip{left, top, right, bottom};
            if (bd->stencilSurface && !EqualRect(&clip, &bd->maskRect)) {
                // The mask is drawn in GUI coordinates, so the display position is added back.
                if (!writeMask(bd, left + clipOff.x, top + clipOff.y, right + clipOff.x, bottom + clipOff.y)) continue;
                drawMask(bd);
                bd->maskRect = clip;
            }
            device->SetIndices(bd->indexBuffer, globalVtxOffset + cmd.VtxOffset);
            device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(list->VtxBuffer.Size),
                                         cmd.IdxOffset + globalIdxOffset, cmd.ElemCount / 3);
        }
        globalIdxOffset += list->IdxBuffer.Size;
        globalVtxOffset += list->VtxBuffer.Size;
    }

    // Restore the transforms, the device's depth-stencil surface and the state
    device->SetTransform(D3DTS_WORLD, &lastWorld);
    device->SetTransform(D3DTS_VIEW, &lastView);
    device->SetTransform(D3DTS_PROJECTION, &lastProjection);
    if (bd->savedDepthSurface) {
        IDirect3DSurface8* target = nullptr;
        if (device->GetRenderTarget(&target) == D3D_OK && target) {
            device->SetRenderTarget(target, bd->savedDepthSurface);
            target->Release();
        }
        releaseAndClear(bd->savedDepthSurface);
    }
    device->ApplyStateBlock(stateBlock);
    device->DeleteStateBlock(stateBlock);
}

}  // namespace starfell
