// Placeholder until the self-update lands: every build counts as current.
#include "update/self_update.h"

namespace starfell {

void checkLauncherBuild(const std::string&) {}
void removeOldLauncher() {}

}  // namespace starfell
