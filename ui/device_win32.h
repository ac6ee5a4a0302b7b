// The launcher's Direct3D 8 device, for the Windows presentation files.
#pragma once

struct IDirect3DDevice8;

namespace starfell {

// Null until createLauncherWindow has made the device.
IDirect3DDevice8* launcherDevice();

}  // namespace starfell
