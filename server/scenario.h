// Scripted conversations: a file of steps that replaces the normal
// conversation on every connection, so tests can send exactly what they need.
#pragma once
#include <string>
#include <vector>

#include "server/content.h"
#include "server/connection.h"

namespace starfell::server {

struct ScenarioStep {
    enum class Kind { Send, ReadHello, SendVerdict, Wait, Gap, Expect, Hold, Close };
    Kind kind = Kind::Send;
    Bytes bytes;          // Send: the packet(s)
    std::string what;     // Send: how the log names it
    long long number = 0; // Wait/Gap: milliseconds; Expect: byte count
    bool together = false;  // Send: held back and sent with the next send step
    int line = 0;
};

struct Scenario {
    std::vector<ScenarioStep> steps;
    std::string error;  // "line N: ..." when the script cannot be used
};

// Parses a script (see `starfell-server --help` for the steps).
Scenario parseScenario(const std::string& text);

// Runs the steps on one connection.
void runScenario(const Scenario& scenario, Connection& connection, const ContentFolder& content);

// Decodes the escapes \n \r \t \\ \| \, and \xHH of a scenario text.
std::string unescapeText(const std::string& text, std::string* error = nullptr);

}  // namespace starfell::server
