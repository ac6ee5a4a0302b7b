// The socket calls the server connection needs, one file per platform.
// Sockets are carried as intptr_t; -1 is "no socket" on both platforms.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace starfell::net {

constexpr std::intptr_t kNoSocket = -1;

// Windows: WSAStartup 2.2 / WSACleanup. POSIX: nothing to start.
bool startNetworking();
void stopNetworking();

// A blocking IPv4 TCP socket, or kNoSocket.
std::intptr_t openTcpSocket();
void closeSocket(std::intptr_t socket);

// False when `address` is not a dotted IPv4 text (inet_pton did not return 1).
bool parseIPv4(const std::string& address, std::uint32_t& networkOrder);
bool connectIPv4(std::intptr_t socket, std::uint32_t networkOrderAddress, std::uint16_t port);

// One send / one recv; the result is the byte count, or -1 on failure
// (0 from receive: the peer closed the connection).
long sendOnce(std::intptr_t socket, const char* bytes, std::size_t length);
long receiveOnce(std::intptr_t socket, char* buffer, std::size_t capacity);

}  // namespace starfell::net
