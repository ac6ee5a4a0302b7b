// The launcher's own packet handlers, which start-up hands to the connection.
#pragma once
#include "core/server_connection.h"

namespace starfell {

// Self-update check, news, patches, verification, and the report after a patch list.
const PacketHandlers& launcherHandlers();

}  // namespace starfell
