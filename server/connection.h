// One launcher connection as the server sees it: paced sends of whole
// packets, reads that give up when the server stops, and the event log.
#pragma once
#include <atomic>
#include <chrono>
#include <string>

#include "server/packets.h"

namespace starfell::server {

// Set once when the server is asked to stop; every wait and read watches it.
extern std::atomic<bool> stopRequested;

// Sleeps up to `duration`; false when the server is stopping.
bool pauseFor(std::chrono::milliseconds duration);

class Connection {
public:
    Connection(int socket, std::string peer);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& peer() const { return peer_; }
    void log(const std::string& event) const;  // "tcp <peer> <event>"

    // How long a greeted launcher may send nothing before the connection is closed.
    void setIdleTimeout(std::chrono::seconds timeout) { idleTimeout_ = timeout; }
    std::chrono::seconds idleTimeout() const { return idleTimeout_; }

    // Logs "received <N> bytes: <hex>" with at most the first 256 bytes shown,
    // and only the first 100 such lines of a connection, so a client cannot
    // fill the log.
    void logReceived(const Bytes& bytes);

    // Least time between the starts of two sends, so that each packet reaches
    // the launcher as a block of its own (it reads one block per 100 ms).
    void setGap(std::chrono::milliseconds gap) { gap_ = gap; }

    // Sends `bytes` with one send call after the gap has passed; logs
    // "sent <what> <N> bytes: <hex>". False when the connection is gone.
    bool sendPacket(const Bytes& bytes, const std::string& what);

    // Reads the launcher's greeting: what arrives until 150 bytes are there,
    // the peer closes, or `timeout` passes.
    Bytes readGreeting(std::chrono::milliseconds timeout);

    // Reads exactly `count` bytes; false (with what arrived in `out`) when the
    // peer closes, the idle bound passes, the server stops, or reading fails.
    bool readExactly(size_t count, Bytes& out);

    enum class Event { Report, Other, Idle, Closed, Stopped };
    // The next thing the launcher sends after its greeting: a whole report,
    // other bytes (in `other`), the idle bound passing, the end of the
    // connection, or a server stop.
    Event nextEvent(Bytes& other);

    // Logs everything the launcher sends until it closes or the server stops.
    void holdAndLog();

    void close();
    bool closed() const { return socket_ < 0; }

private:
    enum class Fill { Data, Closed, Stopped, Timeout };
    Fill fill(std::chrono::milliseconds timeout);

    int socket_;
    std::string peer_;
    Bytes pending_;  // bytes read but not yet consumed
    std::chrono::milliseconds gap_{250};
    std::chrono::seconds idleTimeout_{7200};
    int receivedLines_ = 0;
    std::chrono::steady_clock::time_point lastSend_{};
    bool peerClosed_ = false;
};

}  // namespace starfell::server
