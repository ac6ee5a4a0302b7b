// Static file serving with cpp-httplib. Files are streamed from disk in
// pieces, so large patch archives never sit whole in memory per download.
#include "server/http_store.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

// The request path as a path below the root, or empty when it could leave
// the root or name nothing servable.
std::string fileBelow(const std::string& root, const std::string& requestPath) {
    if (requestPath.size() < 2 || requestPath[0] != '/') return {};
    std::string relative = requestPath.substr(1);
    if (relative.find('\\') != std::string::npos || relative.find('\0') != std::string::npos) return {};
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        std::string part = relative.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return {};
        start = end + 1;
    }
    return root + "/" + relative;
}

void logRequest(const httplib::Request& request, int status, size_t size, const char* note = "") {
    logLine("http " + request.method + " " + request.path + " " + std::to_string(status) + " " +
            std::to_string(size) + note);
}

// Logged when the request arrives rather than when the answer is sent, so the
// log keeps the order in which a client asked for files.
void serveFile(const std::string& root, const httplib::Request& request, httplib::Response& response) {
    std::string path = fileBelow(root, request.path);
    int file = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (file >= 0 && (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(file);
        file = -1;
    }
    if (file < 0) {
        response.status = 404;
        logRequest(request, 404, 0);
        return;
    }
    const char* type = path.size() > 4 && path.compare(path.size() - 4, 4, ".zip") == 0 ? "application/zip"
                     : path.size() > 4 && path.compare(path.size() - 4, 4, ".txt") == 0 ? "text/plain; charset=utf-8"
                                                                                          : "application/octet-stream";
    size_t size = static_cast<size_t>(info.st_size);
    logRequest(request, 200, size);
    response.set_content_provider(
        size, type,
        [file](size_t offset, size_t length, httplib::DataSink& sink) {
            char piece[64 * 1024];
            size_t count = std::min(length, sizeof piece);
            ssize_t got = ::pread(file, piece, count, static_cast<off_t>(offset));
            return got > 0 && sink.write(piece, static_cast<size_t>(got));
        },
        [file, request, size](bool success) {
            ::close(file);
            if (!success) logRequest(request, 200, size, " cut off");
        });
}

}  // namespace

HttpStore::HttpStore(const std::string& root) : server_(std::make_unique<httplib::Server>()) {
    server_->Get(".*", [root](const httplib::Request& request, httplib::Response& response) {
        serveFile(root, request, response);
    });
    // Other methods never reach a handler; httplib answers them, and they are logged here.
    server_->set_logger([](const httplib::Request& request, const httplib::Response& response) {
        if (request.method == "GET" || request.method == "HEAD") return;
        logRequest(request, response.status, response.body.size());
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
