// The launcher's Direct3D 8 device, for the Windows presentation files.
#pragma once

struct IDirect3DDevice8;

namespace starfell {

// Null until createLauncherWindow has made the device.
IDirect3DDevice8* launcherDevice();

// Resets the lost device on the frame loop's thread, outside a frame's drawing:
// the renderer's default-pool objects are made again. False if Reset failed.
bool resetLauncherDevice();

}  // namespace starfell
