// Wires each packet type to the subsystem that obeys it, with the launcher's
// own folder, stores and game guard.
#include "app/packet_handlers.h"

#include "base/file_utils.h"
#include "core/launcher_config.h"
#include "integrity/verify_files.h"
#include "update/patches.h"
#include "update/self_update.h"

namespace starfell {

namespace {

const WorkContext& launcherWork() {
    static const WorkContext context{launcherFolder(), launcherFolderNarrow(), launcherConfig().PatchBaseUrls,
                                     launcherConfig().RepairBaseUrls, true};
    return context;
}

}  // namespace

const PacketHandlers& launcherHandlers() {
    static const PacketHandlers handlers{
        &checkLauncherBuild,
        [](const std::string& packet) { parseNews(packet, launcherState); },
        [](const std::string& packet) { applyPatchList(packet, launcherWork()); },
        [](const std::string& packet) { verifyGameFiles(packet, launcherWork()); },
        &sendPatchDone,
    };
    return handlers;
}

}  // namespace starfell
