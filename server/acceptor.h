// Taking connections in under limits, for both services: a cap on open
// connections and on connections per client address, and, when descriptors or
// threads run out, refusing with a log line and backing off instead of failing.
#pragma once
#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace starfell::server {

struct AcceptLimits {
    int maxConnections = 2000;  // open connections of the service
    int maxPerAddress = 32;     // open connections from one client address; 0: no cap
};

// One accepted connection; `address` is the client's IPv4 address alone.
struct Accepted {
    int socket = -1;
    std::string address;
    std::string peer;  // "address:port", for the log
};

class Acceptor {
public:
    // `service` names the service in log lines ("tcp", "http").
    Acceptor(std::string service, AcceptLimits limits);
    ~Acceptor();
    Acceptor(const Acceptor&) = delete;
    Acceptor& operator=(const Acceptor&) = delete;

    // Binds and listens; on failure returns false with errno in `code`.
    bool listenOn(const std::string& address, int port, int& code);

    // The next connection within the limits; socket -1 once the server stops.
    // Connections over a cap are closed at once; descriptor exhaustion is
    // answered by closing the waiting connection and pausing, never by spinning.
    Accepted next();

    // Ends the accounting of a connection taken with next() (call when it is closed).
    void release(const Accepted& connection);

    // Closes a connection that next() gave but that could not be served (no
    // thread, a full queue, no request in time) and logs why; with `pause`
    // the calling thread then backs off like on descriptor exhaustion.
    void refuse(const Accepted& connection, const std::string& reason, bool pause = true);

    int openConnections() const;
    int listener() const { return listener_; }

private:
    void noteRefusal(const std::string& reason);
    void backOff();
    void closeAfterRefusal(int socket);

    std::string service_;
    AcceptLimits limits_;
    int listener_ = -1;
    int spare_ = -1;  // kept open so a connection can still be taken and closed at the open-file limit

    mutable std::mutex mutex_;
    int open_ = 0;
    std::map<std::string, int> perAddress_;

    // Refusals are logged at most once a second, with a count, so a flood cannot fill the log.
    std::chrono::steady_clock::time_point lastRefusalLog_{};
    long long unloggedRefusals_ = 0;
    std::chrono::milliseconds backOff_{0};
};

}  // namespace starfell::server
