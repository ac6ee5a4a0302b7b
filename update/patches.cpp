// Placeholder until the patch step lands.
#include "update/patches.h"

namespace starfell {

void applyPatchList(const std::string&) {}

}  // namespace starfell
