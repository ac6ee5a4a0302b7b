// The stand-in game client's shared part: the record line and the lifetime.
#include "tools/conquer_stub.h"

#include <cstdlib>

namespace starfell::stub {

unsigned lifetimeFrom(const char* text) {
    if (!text || !*text) return 30;
    char* end = nullptr;
    unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || value > 86400) return 30;
    return static_cast<unsigned>(value);
}

int runStub() {
    StartRecord record = currentStart();
    if (const char* logPath = std::getenv("STARFELL_CLIENT_LOG"); logPath && *logPath) {
        appendLine(logPath, record.commandLine + "\t" + record.workingFolder + "\t" +
                                std::to_string(record.processId) + "\n");
    }
    sleepSeconds(lifetimeFrom(std::getenv("STARFELL_CLIENT_LIFETIME")));
    return 0;
}

}  // namespace starfell::stub
