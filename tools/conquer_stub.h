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

// Platform part: the record of this process, a sleep, and one write of `line`
// at the end of the file at `path`, atomic against other clients appending at
// the same moment (a seek to the end, then a write, would let one overwrite another).
StartRecord currentStart();
void sleepSeconds(unsigned seconds);
void appendLine(const char* path, const std::string& line);

// Appends "<command line>\t<working folder>\t<pid>\n" to the file named by
// STARFELL_CLIENT_LOG (when set), then lives STARFELL_CLIENT_LIFETIME seconds
// (default 30). Returns the exit code.
int runStub();

// The lifetime from the variable's text: a whole number of seconds, else 30.
unsigned lifetimeFrom(const char* text);

}  // namespace starfell::stub
