// Static file serving with cpp-httplib: the content folder mounted at "/".
#include "server/http_store.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <cerrno>
#include <cstring>

#include "server/server_log.h"

namespace starfell::server {

namespace {

// httplib reports only that binding failed; a bind of our own finds out why.
int bindError(const std::string& address, int port) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) return EINVAL;
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    int code = ::bind(probe, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 ? 0 : errno;
    ::close(probe);
    return code;
}

}  // namespace

HttpStore::HttpStore(const std::string& root) : server_(std::make_unique<httplib::Server>()) {
    server_->set_mount_point("/", root);
    server_->set_logger([](const httplib::Request& request, const httplib::Response& response) {
        size_t size = response.body.size();
        if (size == 0 && response.has_header("Content-Length")) {
            size = std::stoull(response.get_header_value("Content-Length"));
        }
        logLine("http " + request.method + " " + request.path + " " + std::to_string(response.status) + " " +
                std::to_string(size));
    });
}

HttpStore::~HttpStore() { stop(); }

bool HttpStore::listenOn(const std::string& address, int port, std::string& error, int& code) {
    if (server_->bind_to_port(address, port)) return true;
    code = bindError(address, port);
    if (code == 0) code = EADDRINUSE;
    error = std::strerror(code);
    return false;
}

void HttpStore::start() {
    thread_ = std::thread([this] { server_->listen_after_bind(); });
}

void HttpStore::stop() {
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

}  // namespace starfell::server
