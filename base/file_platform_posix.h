// POSIX only: errno mapped onto the Windows error numbering used by shared code.
#pragma once
#include <cstdint>

namespace starfell::fs {

std::uint32_t errorFromErrno(int error);

}  // namespace starfell::fs
