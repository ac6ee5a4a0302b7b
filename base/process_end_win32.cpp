// Windows: the process ends through TerminateProcess once the streams are
// flushed. ExitProcess would also stop the other threads first, but then runs
// every DLL's detach code, and the graphics driver's (torn down while the
// threads it served were stopped mid-call) crashed there now and then.
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
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    ExitProcess(static_cast<UINT>(code));  // not reached
}

}  // namespace starfell
