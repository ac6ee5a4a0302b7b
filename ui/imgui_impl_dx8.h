// dear imgui: Renderer Backend for Direct3D 8 ("imgui_impl_dx8")
// The GUI's draw data drawn with Direct3D 8 draw calls; use with a platform
// backend (Win32). Direct3D 8 has no scissor test, so every clip rectangle is
// enforced through the stencil buffer of a depth-stencil surface of its own.
//
// Implemented features:
//  [X] Renderer: User texture binding. Use 'IDirect3DTexture8*' as ImTextureID.
//  [X] Renderer: Clip rectangles through a stencil mask, in the best stencil format the
//      device offers; a device without one draws unclipped (one diagnostic line).
//  [X] Renderer: Large meshes (64k+ vertices) with 16-bit indices (ImDrawCmd::VtxOffset honoured).
//  [X] Renderer: ImDrawCallback_ResetRenderState.
#pragma once
#include "imgui.h"

struct IDirect3DDevice8;

namespace starfell {

// Test programs only, before rendererInit: consider no stencil format, as on a
// card that offers none, so that the unclipped drawing can be seen.
void rendererIgnoreStencilFormats();

// Keeps one reference to `device` until rendererShutdown.
bool rendererInit(IDirect3DDevice8* device);
void rendererShutdown();
// Creates the device objects when they are missing.
void rendererNewFrame();
// Between BeginScene and EndScene.
void rendererRenderDrawData(ImDrawData* drawData);

// Device objects in the default pool: invalidate before a device reset and
// create again after it. The font texture is managed: made once, from the
// atlas's pixels, and kept until rendererShutdown.
bool rendererCreateDeviceObjects();
void rendererInvalidateDeviceObjects();

}  // namespace starfell
