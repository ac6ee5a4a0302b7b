// The launcher's Direct3D 8 device, for the Windows presentation files.
#pragma once
#include "ui/images.h"

struct IDirect3DDevice8;

namespace starfell {

// Null until createLauncherWindow has made the device.
IDirect3DDevice8* launcherDevice();

// The texture sizes the device takes (every texture is drawn clamped).
TextureLimits deviceTextureLimits(IDirect3DDevice8* device);

// Resets the lost device on the frame loop's thread, outside a frame's drawing:
// the renderer's default-pool objects are made again. False if Reset failed.
bool resetLauncherDevice();

}  // namespace starfell
