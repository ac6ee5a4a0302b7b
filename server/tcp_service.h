// The TCP packet service: accepts launchers within the connection limits and
// runs, for each on a thread of its own, either the normal conversation or a scenario.
#pragma once
#include <chrono>
#include <optional>
#include <string>

#include "server/acceptor.h"
#include "server/content.h"
#include "server/scenario.h"

namespace starfell::server {

struct TcpLimits {
    AcceptLimits accept;
    std::chrono::seconds helloTimeout{10};  // the whole greeting must arrive within this
    std::chrono::seconds idleTimeout{7200};  // a greeted launcher that sends nothing for this long is closed
};

class TcpService {
public:
    TcpService(const ContentFolder& content, std::optional<Scenario> scenario, TcpLimits limits)
        : content_(content), scenario_(std::move(scenario)), limits_(limits), acceptor_("tcp", limits.accept) {}

    // Binds and listens; on failure returns false with errno in `code`.
    bool listenOn(const std::string& address, int port, int& code) { return acceptor_.listenOn(address, port, code); }

    // Accepts until the server stops, then waits for every connection thread.
    void run();

private:
    struct Job;
    static void* serveJob(void* job);
    void serve(const Accepted& accepted);

    const ContentFolder& content_;
    std::optional<Scenario> scenario_;
    TcpLimits limits_;
    Acceptor acceptor_;
};

// The normal conversation: greeting and verdict, news, patch list, and the
// file list after the launcher's first report.
void runConversation(Connection& connection, const ContentFolder& content, std::chrono::milliseconds helloTimeout);

}  // namespace starfell::server
