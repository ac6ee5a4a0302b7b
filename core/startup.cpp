// Start-up sequence shared by both platforms.
#include "core/startup.h"

#include "core/launcher_state.h"
#include "integrity/file_md5.h"
#include "update/file_platform.h"

namespace starfell {

int runLauncher() {
    launcherState.launcherDigest = fileMd5(fs::modulePath());
    return 0;
}

}  // namespace starfell
