// The stand-in game client: records how it was started, then stays alive for
// a while so tests can see it running.
#pragma once
#include <string>

namespace starfell::stub {

// What the platform tells about this process.
struct StartRecord {
    std::string commandLine;
    std::string workingFolder;
    unsigned long processId = 0;
};

// Platform part: the record of this process, and a sleep.
StartRecord currentStart();
void sleepSeconds(unsigned seconds);

// Appends "<command line>\t<working folder>\t<pid>\n" to the file named by
// STARFELL_CLIENT_LOG (when set), then lives STARFELL_CLIENT_LIFETIME seconds
// (default 30). Returns the exit code.
int runStub();

// The lifetime from the variable's text: a whole number of seconds, else 30.
unsigned lifetimeFrom(const char* text);

}  // namespace starfell::stub
