// Accepting under limits: caps, refusal logging and back-off for both services.
#include "server/acceptor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "server/connection.h"
#include "server/server_log.h"

namespace starfell::server {

Acceptor::Acceptor(std::string service, AcceptLimits limits) : service_(std::move(service)), limits_(limits) {
    spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

Acceptor::~Acceptor() {
    if (listener_ >= 0) ::close(listener_);
    if (spare_ >= 0) ::close(spare_);
}

bool Acceptor::listenOn(const std::string& address, int port, int& code) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        code = EINVAL;
        return false;
    }
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        code = errno;
        return false;
    }
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // A deep backlog: a thousand launchers starting together must not wait for SYN retries.
    if (::bind(listener, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(listener, SOMAXCONN) != 0) {
        code = errno;
        ::close(listener);
        return false;
    }
    listener_ = listener;
    return true;
}

Accepted Acceptor::next() {
    while (!stopRequested) {
        pollfd entry{listener_, POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0) continue;
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        int socket = ::accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
        if (socket < 0) {
            int code = errno;
            if (code == EINTR || code == EAGAIN || code == ECONNABORTED) continue;
            if (code == EMFILE || code == ENFILE) {
                // Take the waiting connection with the spare descriptor and close it:
                // the client hears a refusal instead of waiting in the backlog.
                if (spare_ >= 0) {
                    ::close(spare_);
                    closeAfterRefusal(::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC));
                    spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                }
                noteRefusal(std::string("out of file descriptors (") + std::strerror(code) + ")");
            } else {
                noteRefusal(std::string("accept failed (") + std::strerror(code) + ")");
            }
            backOff();
            continue;
        }
        backOff_ = std::chrono::milliseconds(0);

        char text[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        Accepted accepted{socket, text, std::string(text) + ":" + std::to_string(ntohs(peer.sin_port))};
        std::string reason;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            int& fromAddress = perAddress_[accepted.address];
            if (open_ >= limits_.maxConnections) {
                reason = "connection cap " + std::to_string(limits_.maxConnections) + " reached";
            } else if (limits_.maxPerAddress > 0 && fromAddress >= limits_.maxPerAddress) {
                reason = std::to_string(fromAddress) + " connections from " + accepted.address + " already";
            } else {
                ++open_;
                ++fromAddress;
                return accepted;
            }
            if (fromAddress == 0) perAddress_.erase(accepted.address);
        }
        closeAfterRefusal(socket);
        noteRefusal(reason);
    }
    return {};
}

void Acceptor::release(const Accepted& connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    --open_;
    auto found = perAddress_.find(connection.address);
    if (found != perAddress_.end() && --found->second <= 0) perAddress_.erase(found);
}

void Acceptor::refuse(const Accepted& connection, const std::string& reason, bool pause) {
    closeAfterRefusal(connection.socket);
    release(connection);
    noteRefusal(reason);
    if (pause) backOff();
}

int Acceptor::openConnections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

void Acceptor::closeAfterRefusal(int socket) {
    if (socket >= 0) ::close(socket);
}

void Acceptor::noteRefusal(const std::string& reason) {
    auto now = std::chrono::steady_clock::now();
    long long count = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++unloggedRefusals_;
        if (now - lastRefusalLog_ < std::chrono::seconds(1)) return;
        count = unloggedRefusals_;
        unloggedRefusals_ = 0;
        lastRefusalLog_ = now;
    }
    logLine(service_ + " refused " + std::to_string(count) + (count == 1 ? " connection: " : " connections: ") +
            reason);
}

void Acceptor::backOff() {
    backOff_ = std::clamp(backOff_ * 2, std::chrono::milliseconds(50), std::chrono::milliseconds(1000));
    pauseFor(backOff_);
}

}  // namespace starfell::server
