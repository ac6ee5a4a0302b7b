// Wires each packet type to the subsystem that obeys it.
#include "app/packet_handlers.h"

#include "integrity/verify_files.h"
#include "update/patches.h"
#include "update/self_update.h"

namespace starfell {

namespace {

void newsHandler(const std::string& packet) { parseNews(packet, launcherState); }

}  // namespace

const PacketHandlers& launcherHandlers() {
    static const PacketHandlers handlers{&checkLauncherBuild, &newsHandler, &applyPatchList, &verifyGameFiles,
                                         &sendPatchDone};
    return handlers;
}

}  // namespace starfell
