// The TCP packet service: accepts launchers and runs, for each on a thread of
// its own, either the normal conversation or a scenario.
#pragma once
#include <optional>
#include <string>

#include "server/content.h"
#include "server/scenario.h"

namespace starfell::server {

class TcpService {
public:
    TcpService(const ContentFolder& content, std::optional<Scenario> scenario)
        : content_(content), scenario_(std::move(scenario)) {}
    ~TcpService();

    // Binds and listens; on failure returns false with `error` set (errno in `code`).
    bool listenOn(const std::string& address, int port, std::string& error, int& code);

    // Accepts until the server stops, then waits for every connection thread.
    void run();

private:
    void serve(int socket, const std::string& peer);

    const ContentFolder& content_;
    std::optional<Scenario> scenario_;
    int listener_ = -1;
};

// The normal conversation: greeting and verdict, news, patch list, and the
// file list after the launcher's first report.
void runConversation(Connection& connection, const ContentFolder& content);

}  // namespace starfell::server
