// Placeholder until verification lands.
#include "integrity/verify_files.h"

namespace starfell {

void verifyGameFiles(const std::string&) {}

}  // namespace starfell
