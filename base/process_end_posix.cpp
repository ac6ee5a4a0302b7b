// POSIX: the process ends through _exit once the streams are flushed.
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "base/process_end.h"

namespace starfell {

void endProcess(int code) {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    _exit(code);
}

}  // namespace starfell
