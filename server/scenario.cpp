// Scenario scripts: parsing into steps (packets are built once, up front) and
// running them on a connection.
#include "server/scenario.h"

#include <sstream>

#include "server/server_log.h"

namespace starfell::server {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Splits at every `separator` not preceded by a backslash; escapes stay in place.
std::vector<std::string> splitEscaped(const std::string& text, char separator) {
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            pieces.back() += text.substr(i, 2);
            ++i;
        } else if (text[i] == separator) {
            pieces.emplace_back();
        } else {
            pieces.back() += text[i];
        }
    }
    return pieces;
}

bool parseCount(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    value = std::stoll(text);
    return true;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '"' || c == '\\') out += std::string("\\") + c;
        else out += c;
    }
    return out + "\"";
}

}  // namespace

std::string unescapeText(const std::string& text, std::string* error) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 >= text.size()) {
            if (error) *error = "a lone backslash ends the text";
            return out;
        }
        char code = text[++i];
        switch (code) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case '\\': case '|': case ',': out += code; break;
        case 'x': {
            int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
            int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                if (error) *error = "\\x needs two hexadecimal digits";
                return out;
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            if (error) *error = std::string("unknown escape \\") + code;
            return out;
        }
    }
    return out;
}

Scenario parseScenario(const std::string& text) {
    Scenario scenario;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& message) {
        scenario.error = "line " + std::to_string(number) + ": " + message;
        return scenario;
    };
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        line.erase(0, first);

        ScenarioStep step;
        step.line = number;
        if (line[0] == '+') {
            step.together = true;
            line.erase(0, 1);
        }
        size_t space = line.find(' ');
        std::string command = line.substr(0, space);
        std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
        std::string problem;

        if (command == "send") {
            std::optional<Bytes> bytes = fromHex(argument);
            if (!bytes || bytes->empty()) return fail("send needs hexadecimal bytes");
            step.bytes = *bytes;
            step.what = "raw";
        } else if (command == "send-hello-answer") {
            std::string verdict = unescapeText(argument, &problem);
            step.bytes = helloAnswer(verdict);
            step.what = "Hello answer " + quoted(fitText(verdict));
        } else if (command == "send-news") {
            std::vector<std::string> newsLines;
            if (!argument.empty()) {
                for (const std::string& piece : splitEscaped(argument, '|')) newsLines.push_back(unescapeText(piece, &problem));
            }
            std::vector<Bytes> packets = newsPackets(newsLines);
            if (packets.size() != 1) return fail("the news lines need more than one packet; use several send-news steps");
            step.bytes = packets[0];
            step.what = "News " + std::to_string(newsLines.size()) + " lines";
        } else if (command == "send-patchlist") {
            std::string list = unescapeText(argument, &problem);
            if (list.size() > MaxTextSize) return fail("a patch list holds at most 255 bytes");
            step.bytes = patchListPacket(list);
            step.what = "PatchList " + quoted(list);
        } else if (command == "send-filecheck") {
            std::vector<FileEntry> entries;
            if (!argument.empty()) {
                for (const std::string& entry : splitEscaped(argument, '|')) {
                    std::vector<std::string> fields = splitEscaped(entry, ',');
                    if (fields.size() != 3) return fail("a file entry is path,download name,digests");
                    entries.push_back({unescapeText(fields[0], &problem), unescapeText(fields[1], &problem),
                                       unescapeText(fields[2], &problem)});
                }
            }
            std::optional<Bytes> packet = fileCheckPacket(FileCheckHeader, entries);
            if (!packet) return fail("the file list does not fit one FileCheck packet");
            step.bytes = *packet;
            step.what = "FileCheck " + std::to_string(entries.size()) + " entries";
        } else if (command == "read-hello") {
            step.kind = ScenarioStep::Kind::ReadHello;
        } else if (command == "send-verdict") {
            step.kind = ScenarioStep::Kind::SendVerdict;
        } else if (command == "wait" || command == "gap" || command == "expect") {
            step.kind = command == "wait" ? ScenarioStep::Kind::Wait
                      : command == "gap"  ? ScenarioStep::Kind::Gap
                                          : ScenarioStep::Kind::Expect;
            if (!parseCount(argument, step.number)) return fail(command + " needs a whole number");
            if (step.kind == ScenarioStep::Kind::Expect && step.number == 0) return fail("expect needs at least 1 byte");
        } else if (command == "hold") {
            step.kind = ScenarioStep::Kind::Hold;
        } else if (command == "close") {
            step.kind = ScenarioStep::Kind::Close;
        } else {
            return fail("unknown step \"" + command + "\"");
        }
        if (!problem.empty()) return fail(problem);
        if (step.together && step.kind != ScenarioStep::Kind::Send) return fail("only send steps can be joined with +");
        scenario.steps.push_back(step);
    }
    if (!scenario.steps.empty() && scenario.steps.back().together) {
        number = scenario.steps.back().line;
        return fail("a joined send (+) needs a send step after it");
    }
    return scenario;
}

void runScenario(const Scenario& scenario, Connection& connection, const ContentFolder& content) {
    Bytes joined;
    std::string joinedWhat;
    std::string verdict = "true";
    for (const ScenarioStep& step : scenario.steps) {
        if (stopRequested || connection.closed()) return;
        switch (step.kind) {
        case ScenarioStep::Kind::Send:
            joined += step.bytes;
            joinedWhat += (joinedWhat.empty() ? "" : " + ") + step.what;
            if (step.together) break;
            if (!connection.sendPacket(joined, joinedWhat)) return;
            joined.clear();
            joinedWhat.clear();
            break;
        case ScenarioStep::Kind::ReadHello: {
            Greeting greeting = parseGreeting(connection.readGreeting(std::chrono::seconds(10)));
            if (!greeting.valid) {
                connection.log("bad greeting: " + greeting.problem + "; closing");
                connection.close();
                return;
            }
            verdict = content.verdictFor(greeting.digest);
            connection.log("hello digest=" + logField(greeting.digest) + " verdict=" + verdict);
            break;
        }
        case ScenarioStep::Kind::SendVerdict:
            if (!connection.sendPacket(helloAnswer(verdict), "Hello answer " + quoted(verdict))) return;
            break;
        case ScenarioStep::Kind::Wait:
            if (!pauseFor(std::chrono::milliseconds(step.number))) return;
            break;
        case ScenarioStep::Kind::Gap:
            connection.setGap(std::chrono::milliseconds(step.number));
            break;
        case ScenarioStep::Kind::Expect: {
            Bytes bytes;
            bool whole = connection.readExactly(static_cast<size_t>(step.number), bytes);
            if (!whole) {
                if (stopRequested) return;
                connection.log("closed by launcher after " + std::to_string(bytes.size()) + " of " +
                               std::to_string(step.number) + " expected bytes: " + toHex(bytes));
                return;
            }
            connection.log("received " + std::to_string(bytes.size()) + " bytes: " + toHex(bytes));
            break;
        }
        case ScenarioStep::Kind::Hold:
            connection.log("holding");
            connection.holdAndLog();
            return;
        case ScenarioStep::Kind::Close:
            connection.log("closing");
            connection.close();
            return;
        }
    }
    // The launcher ends when its connection closes, so a finished script keeps it open.
    connection.log("scenario done");
    connection.holdAndLog();
}

}  // namespace starfell::server
