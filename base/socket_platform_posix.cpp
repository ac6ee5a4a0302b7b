// POSIX sockets behind socket_platform.h.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/socket_platform.h"

namespace starfell::net {

bool startNetworking() { return true; }
void stopNetworking() {}

std::intptr_t openTcpSocket() {
    // Close-on-exec: no program the launcher starts may keep the connection open.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? kNoSocket : fd;
}

void closeSocket(std::intptr_t socket) {
    if (socket != kNoSocket) ::close(static_cast<int>(socket));
}

bool parseIPv4(const std::string& address, std::uint32_t& networkOrder) {
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
    networkOrder = parsed.s_addr;
    return true;
}

bool connectIPv4(std::intptr_t socket, std::uint32_t networkOrderAddress, std::uint16_t port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = networkOrderAddress;
    int result;
    do {
        result = ::connect(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), sizeof(address));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

long sendOnce(std::intptr_t socket, const char* bytes, std::size_t length) {
    // MSG_NOSIGNAL: a closed peer is a failed send, not a SIGPIPE that kills the launcher.
    ssize_t sent;
    do {
        sent = ::send(static_cast<int>(socket), bytes, length, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

long receiveOnce(std::intptr_t socket, char* buffer, std::size_t capacity) {
    ssize_t received;
    do {  // an interrupted call is not a failed connection
        received = ::recv(static_cast<int>(socket), buffer, capacity, 0);
    } while (received < 0 && errno == EINTR);
    return static_cast<long>(received);
}

}  // namespace starfell::net
