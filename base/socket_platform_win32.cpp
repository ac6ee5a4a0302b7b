// Winsock behind socket_platform.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "base/socket_platform.h"

namespace starfell::net {

bool startNetworking() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void stopNetworking() { WSACleanup(); }

std::intptr_t openTcpSocket() {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<std::intptr_t>(s);
}

void closeSocket(std::intptr_t socket) {
    if (socket != kNoSocket) ::closesocket(static_cast<SOCKET>(socket));
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
    return ::connect(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&address), sizeof(address)) !=
           SOCKET_ERROR;
}

long sendOnce(std::intptr_t socket, const char* bytes, std::size_t length) {
    const int sent = ::send(static_cast<SOCKET>(socket), bytes, static_cast<int>(length), 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

long receiveOnce(std::intptr_t socket, char* buffer, std::size_t capacity) {
    const int received = ::recv(static_cast<SOCKET>(socket), buffer, static_cast<int>(capacity), 0);
    return received == SOCKET_ERROR ? -1 : received;
}

}  // namespace starfell::net
