// Accepting launchers and the normal conversation with each of them.
#include "server/tcp_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace starfell::server {

namespace {

std::mutex threadsMutex;
std::condition_variable threadsDone;
int runningThreads = 0;

std::string describe(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

std::string quotedList(const std::string& text) {
    std::string out = "\"";
    for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out + "\"";
}

}  // namespace

TcpService::~TcpService() {
    if (listener_ >= 0) ::close(listener_);
}

bool TcpService::listenOn(const std::string& address, int port, std::string& error, int& code) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        error = "\"" + address + "\" is not an IPv4 address";
        code = EINVAL;
        return false;
    }
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        code = errno;
        error = std::strerror(code);
        return false;
    }
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || ::listen(listener_, 64) != 0) {
        code = errno;
        error = std::strerror(code);
        ::close(listener_);
        listener_ = -1;
        return false;
    }
    return true;
}

void TcpService::run() {
    while (!stopRequested) {
        pollfd entry{listener_, POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0) continue;
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        int socket = ::accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
        if (socket < 0) continue;
        // Small packets leave at once instead of waiting to be merged with the next one.
        int on = 1;
        setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        {
            std::lock_guard<std::mutex> lock(threadsMutex);
            ++runningThreads;
        }
        std::thread(&TcpService::serve, this, socket, describe(peer)).detach();
    }
    std::unique_lock<std::mutex> lock(threadsMutex);
    threadsDone.wait(lock, [] { return runningThreads == 0; });
}

void TcpService::serve(int socket, const std::string& peer) {
    {
        Connection connection(socket, peer);
        connection.log("connected");
        if (scenario_) {
            runScenario(*scenario_, connection, content_);
        } else {
            runConversation(connection, content_);
        }
    }
    std::lock_guard<std::mutex> lock(threadsMutex);
    if (--runningThreads == 0) threadsDone.notify_all();
}

void runConversation(Connection& connection, const ContentFolder& content) {
    Bytes bytes = connection.readGreeting(std::chrono::seconds(10));
    Greeting greeting = parseGreeting(bytes);
    if (!greeting.valid) {
        if (!stopRequested) connection.log("bad greeting: " + greeting.problem + "; closing");
        return;
    }
    std::string verdict = content.verdictFor(greeting.digest);
    connection.log("hello digest=" + greeting.digest + " verdict=" + verdict);
    if (!connection.sendPacket(helloAnswer(verdict), "Hello answer \"" + verdict + "\"")) return;

    std::vector<std::string> news = content.newsLines();
    if (!news.empty()) {
        for (const Bytes& packet : newsPackets(news)) {
            if (!connection.sendPacket(packet, "News " + std::to_string(static_cast<unsigned char>(packet[4])) + " lines")) return;
        }
    }
    std::string list = patchListText(content.patchNumbers());
    if (!connection.sendPacket(patchListPacket(list), "PatchList " + quotedList(list))) return;

    // The file list follows the launcher's first report; later reports are only logged.
    bool listSent = false;
    for (;;) {
        Bytes other;
        switch (connection.nextEvent(other)) {
        case Connection::Event::Report:
            connection.log("report received");
            if (!listSent) {
                listSent = true;
                FileListResult files = content.fileList();
                if (!files.error.empty()) {
                    connection.log("no FileCheck sent: " + files.error);
                    break;
                }
                std::optional<Bytes> packet = fileCheckPacket(FileCheckHeader, files.entries);
                if (!packet) {
                    connection.log("no FileCheck sent: the file list does not fit one packet");
                    break;
                }
                if (!connection.sendPacket(*packet, "FileCheck " + std::to_string(files.entries.size()) + " entries")) return;
            }
            break;
        case Connection::Event::Other:
            connection.log("received " + std::to_string(other.size()) + " bytes: " + toHex(other));
            break;
        case Connection::Event::Closed:
            connection.log("closed by launcher");
            return;
        case Connection::Event::Stopped:
            return;
        }
    }
}

}  // namespace starfell::server
