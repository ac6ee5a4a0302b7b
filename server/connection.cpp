// Socket work for one launcher connection: poll-based reads that notice a
// server stop within 100 ms, and one send call per packet.
#include "server/connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "server/server_log.h"

namespace starfell::server {

std::atomic<bool> stopRequested{false};

bool pauseFor(std::chrono::milliseconds duration) {
    auto until = std::chrono::steady_clock::now() + duration;
    while (!stopRequested) {
        auto now = std::chrono::steady_clock::now();
        if (now >= until) return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(50)));
    }
    return false;
}

Connection::Connection(int socket, std::string peer) : socket_(socket), peer_(std::move(peer)) {}

Connection::~Connection() { close(); }

void Connection::log(const std::string& event) const { logLine("tcp " + peer_ + " " + event); }

void Connection::close() {
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
}

bool Connection::sendPacket(const Bytes& bytes, const std::string& what) {
    if (socket_ < 0) return false;
    if (lastSend_ != std::chrono::steady_clock::time_point{}) {
        auto due = lastSend_ + gap_;
        auto now = std::chrono::steady_clock::now();
        if (due > now && !pauseFor(std::chrono::duration_cast<std::chrono::milliseconds>(due - now) +
                                   std::chrono::milliseconds(1))) {
            return false;
        }
    }
    lastSend_ = std::chrono::steady_clock::now();
    ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(bytes.size())) {
        log("send of " + what + " failed: " +
            (sent < 0 ? std::string(std::strerror(errno)) : std::to_string(sent) + " of " + std::to_string(bytes.size()) + " bytes sent"));
        return false;
    }
    log("sent " + what + " " + std::to_string(bytes.size()) + " bytes: " + toHex(bytes));
    return true;
}

Connection::Fill Connection::fill(std::chrono::milliseconds timeout) {
    if (socket_ < 0 || peerClosed_) return Fill::Closed;
    auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (stopRequested) return Fill::Stopped;
        auto now = std::chrono::steady_clock::now();
        if (now >= until) return Fill::Timeout;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        pollfd entry{socket_, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left, 100)));
        if (ready < 0 && errno != EINTR) return Fill::Closed;
        if (ready <= 0) continue;
        char buffer[4096];
        ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
        if (got > 0) {
            pending_.append(buffer, static_cast<size_t>(got));
            return Fill::Data;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        peerClosed_ = true;
        return Fill::Closed;
    }
}

Bytes Connection::readGreeting(std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    while (pending_.size() < GreetingSize) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || fill(left) != Fill::Data) break;
    }
    Bytes greeting;
    greeting.swap(pending_);
    return greeting;
}

void Connection::logReceived(const Bytes& bytes) {
    constexpr size_t shown = 256;
    constexpr int mostLines = 100;
    if (++receivedLines_ > mostLines) {
        if (receivedLines_ == mostLines + 1) log("more bytes received; not logged any further");
        return;
    }
    log("received " + std::to_string(bytes.size()) + " bytes: " + toHex(bytes.substr(0, shown)) +
        (bytes.size() > shown ? "..." : ""));
}

bool Connection::readExactly(size_t count, Bytes& out) {
    while (pending_.size() < count) {
        if (fill(idleTimeout_) != Fill::Data) break;
    }
    size_t take = std::min(count, pending_.size());
    out = pending_.substr(0, take);
    pending_.erase(0, take);
    return take == count;
}

Connection::Event Connection::nextEvent(Bytes& other) {
    static const Bytes reportHead = packetHead(FileCheck);
    for (;;) {
        if (pending_.size() >= ReportSize && isReport(pending_.substr(0, ReportSize))) {
            pending_.erase(0, ReportSize);
            return Event::Report;
        }
        // A report may still be arriving in pieces; anything else is handed over as it is.
        bool maybeReport = pending_.size() < ReportSize &&
                           reportHead.compare(0, std::min<size_t>(4, pending_.size()), pending_, 0,
                                              std::min<size_t>(4, pending_.size())) == 0;
        if (!pending_.empty() && !maybeReport) {
            other.swap(pending_);
            pending_.clear();
            return Event::Other;
        }
        bool partReport = maybeReport && !pending_.empty();
        Fill result = fill(partReport ? std::chrono::milliseconds(2000) : std::chrono::milliseconds(idleTimeout_));
        if (result == Fill::Timeout && !partReport) return Event::Idle;
        if (result == Fill::Timeout || (result == Fill::Closed && !pending_.empty())) {
            other.swap(pending_);
            pending_.clear();
            return Event::Other;
        }
        if (result == Fill::Closed) return Event::Closed;
        if (result == Fill::Stopped) return Event::Stopped;
    }
}

void Connection::holdAndLog() {
    for (;;) {
        Bytes other;
        switch (nextEvent(other)) {
        case Event::Report: log("report received"); break;
        case Event::Other: logReceived(other); break;
        case Event::Idle: log("idle for " + std::to_string(idleTimeout_.count()) + " s; closing"); return;
        case Event::Closed: log("closed by launcher"); return;
        case Event::Stopped: return;
        }
    }
}

}  // namespace starfell::server
