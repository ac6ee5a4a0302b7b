// Windows: the process ends through ExitProcess once the streams are flushed;
// it stops the other threads before anything is released.
#include <windows.h>

#include <cstdio>
#include <iostream>

#include "base/process_end.h"

namespace starfell {

void endProcess(int code) {
    std::wcout.flush();
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace starfell
