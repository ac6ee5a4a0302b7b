// Static file serving with cpp-httplib behind our own accepting and request
// gathering. Files are streamed from disk in pieces, so large patch archives
// never sit whole in memory per download.
#include "server/http_store.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>

#include "server/connection.h"
#include "server/server_log.h"

namespace starfell::server {

namespace {

// A connection as httplib reads and writes it: buffered reads, and every read
// or write waiting at most `timeout` for the socket. A download must also keep
// up a least rate, judged over each period of `timeout`: a reader that takes a
// few bytes now and then would otherwise hold a worker for as long as it likes.
class SocketConnection : public httplib::Stream {
public:
    using Clock = std::chrono::steady_clock;

    SocketConnection(int socket, std::chrono::milliseconds timeout, long long leastRate)
        : socket_(socket),
          timeout_(timeout),
          periodQuota_(leastRate * timeout.count() / 1000),
          periodEnd_(Clock::now() + timeout) {}

    bool is_readable() const override { return wait(POLLIN, Clock::now() + timeout_) > 0; }
    bool is_writable() const override { return wait(POLLOUT, Clock::now() + timeout_) > 0; }

    ssize_t read(char* out, size_t size) override {
        if (start_ == end_) {
            if (!is_readable()) return -1;
            ssize_t got = ::recv(socket_, buffer_, sizeof buffer_, 0);
            if (got <= 0) return got;
            start_ = 0;
            end_ = static_cast<size_t>(got);
        }
        size_t count = std::min(size, end_ - start_);
        std::memcpy(out, buffer_ + start_, count);
        start_ += count;
        return static_cast<ssize_t>(count);
    }

    // Sends what fits now: a blocking send of a whole piece would wait on a
    // slow reader with no time limit at all. httplib calls again for the rest.
    ssize_t write(const char* data, size_t size) override {
        if (!writable()) return -1;
        ssize_t sent = ::send(socket_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
        if (sent > 0) periodSent_ += sent;
        return sent;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { address(true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { address(false, ip, port); }
    int socket() const override { return socket_; }

private:
    // Waits for room to write: false when the reader took nothing for
    // `timeout`, or a period ended with less than its quota sent.
    bool writable() {
        const Clock::time_point stalled = Clock::now() + timeout_;
        for (;;) {
            Clock::time_point now = Clock::now();
            if (now >= periodEnd_) {
                if (periodSent_ < periodQuota_) return false;
                periodEnd_ = now + timeout_;
                periodSent_ = 0;
            }
            if (now >= stalled) return false;
            int ready = wait(POLLOUT, std::min(stalled, periodEnd_));
            if (ready != 0) return ready > 0;
        }
    }

    // Polls until `until`: 1 when ready, 0 when the time ran out, -1 on an error or a stop.
    int wait(short events, Clock::time_point until) const {
        pollfd entry{socket_, events, 0};
        int ready;
        do {
            // Rounded up, so that a wait never ends just short of `until` and spins.
            auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
            ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        } while (ready < 0 && errno == EINTR);
        if (stopRequested) return -1;
        return ready > 0 ? 1 : ready;
    }

    void address(bool remote, std::string& ip, int& port) const {
        sockaddr_in where{};
        socklen_t size = sizeof where;
        int result = remote ? ::getpeername(socket_, reinterpret_cast<sockaddr*>(&where), &size)
                            : ::getsockname(socket_, reinterpret_cast<sockaddr*>(&where), &size);
        char text[INET_ADDRSTRLEN] = "";
        if (result == 0) inet_ntop(AF_INET, &where.sin_addr, text, sizeof text);
        ip = text;
        port = result == 0 ? ntohs(where.sin_port) : 0;
    }

    int socket_;
    std::chrono::milliseconds timeout_;
    char buffer_[4096];
    size_t start_ = 0, end_ = 0;
    long long periodQuota_;  // bytes each period must carry
    Clock::time_point periodEnd_;
    long long periodSent_ = 0;
};

}  // namespace

// httplib's request handling for connections we accepted and gathered ourselves.
class StoreServer : public httplib::Server {
public:
    // httplib takes a server without a listening socket of its own for one
    // that is shutting down and sends no bodies; it is told ours.
    void useListener(int listener) { svr_sock_ = listener; }

    // Runs on each request once its headers are parsed, before the handler.
    void setRequestCheck(std::function<void(httplib::Request&)> check) { requestCheck_ = std::move(check); }

    // Answers the one request of the connection and closes it.
    void serveSocket(int socket, std::chrono::milliseconds timeout, long long leastRate) {
        {
            SocketConnection connection(socket, timeout, leastRate);
            bool closed = false;
            process_request(connection, true, closed, requestCheck_);
        }
        ::shutdown(socket, SHUT_RDWR);
        ::close(socket);
    }

private:
    std::function<void(httplib::Request&)> requestCheck_;
};

namespace {

constexpr size_t MostRequestBytes = 8192;  // request line and headers

// The longest Range value taken. One range, "bytes=" and two 19-digit
// offsets, needs 45 bytes; httplib's regex for ranges costs time and stack in
// the header's length, so a longer one never reaches it.
constexpr size_t MostRangeBytes = 100;

enum class Arrival { Partial, Whole, TooLarge, Failed };

const char BusyAnswer[] =
    "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const char TooLargeAnswer[] =
    "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

// What of the request on `socket` has arrived, without taking it; `head` is
// given the bytes seen so far.
Arrival requestArrival(int socket, std::string& head) {
    char peek[MostRequestBytes];
    ssize_t got = ::recv(socket, peek, sizeof peek, MSG_PEEK | MSG_DONTWAIT);
    if (got < 0) {
        return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR ? Arrival::Failed : Arrival::Partial;
    }
    head.assign(peek, static_cast<size_t>(got));
    if (head.find("\r\n\r\n") != std::string::npos || head.find("\n\n") != std::string::npos) return Arrival::Whole;
    if (got == 0) return Arrival::Failed;  // closed before a whole request
    return static_cast<size_t>(got) == sizeof peek ? Arrival::TooLarge : Arrival::Partial;
}

// Why a whole request is refused before httplib sees it, or empty.
std::string refusalOf(const std::string& head) {
    size_t start = head.find('\n');
    while (start != std::string::npos) {
        ++start;
        size_t end = head.find('\n', start);
        if (end == std::string::npos || end == start || (end == start + 1 && head[start] == '\r')) break;
        size_t length = end - start;
        if (length > 6 && strncasecmp(head.data() + start, "range:", 6) == 0) {
            size_t value = length - 6;
            for (size_t i = start + 6; value > 0 && std::isspace(static_cast<unsigned char>(head[i])); ++i) --value;
            for (size_t i = end - 1; value > 0 && std::isspace(static_cast<unsigned char>(head[i])); --i) --value;
            if (value > MostRangeBytes) {
                return "Range header of " + std::to_string(value) + " bytes (at most " +
                       std::to_string(MostRangeBytes) + "); answered 431";
            }
        }
        start = end;
    }
    return {};
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

// Validators of a stored file, so that a client holding part of it can ask for
// the rest only while it is still the same file: a strong entity tag from its
// size and modification time (nanoseconds), and that time as an HTTP date.
struct Validators {
    std::string entityTag;
    std::string lastModified;
    bool dateIsStrong;  // the file has not changed within the second its date names
};

Validators validatorsOf(const struct stat& info) {
    char tag[64];
    std::snprintf(tag, sizeof tag, "\"%llx-%llx.%lx\"", static_cast<unsigned long long>(info.st_size),
                  static_cast<unsigned long long>(info.st_mtim.tv_sec), static_cast<long>(info.st_mtim.tv_nsec));
    char date[64];
    std::tm parts{};
    gmtime_r(&info.st_mtim.tv_sec, &parts);
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return {tag, date, info.st_mtim.tv_sec < std::time(nullptr) - 1};
}

// If-Range: the range holds only for the file the client's validator names.
// A weak tag or a date that may cover two versions never matches.
bool ifRangeMatches(const std::string& condition, const Validators& validators) {
    if (condition == validators.entityTag) return true;
    return validators.dateIsStrong && condition == validators.lastModified;
}

// httplib applies a parsed Range to whatever the handler answers, unchecked
// (a start past the end even gives a wrapped-around length), so a range that
// cannot be served as asked is dropped before the handler runs and the whole
// file goes out with 200, as a server may always do: a range whose If-Range
// condition names another version of the file, or one starting past its end.
// So are several ranges: they would let one request ask for the file
// thousands of times over, and resuming needs one.
void dropRangeUnlessServable(const std::string& root, httplib::Request& request) {
    if (request.ranges.empty()) return;
    if (request.ranges.size() > 1) {
        request.ranges.clear();
        return;
    }
    const std::string path = fileBelow(root, request.path);
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return;  // answered 404 anyway
    const auto size = static_cast<ssize_t>(info.st_size);
    auto& [first, last] = request.ranges.front();
    // A last byte past the end asks for the rest of the file; httplib would announce the length asked for.
    if (first >= 0 && last >= size) last = -1;
    // (-1, n) asks for the last n bytes.
    bool servable = first < 0 ? last > 0 && size > 0 : first < size && (last < 0 || last >= first);
    if (request.has_header("If-Range") && !ifRangeMatches(request.get_header_value("If-Range"), validatorsOf(info))) {
        servable = false;
    }
    if (!servable) request.ranges.clear();
}

void logRequest(const httplib::Request& request, int status, size_t size, const char* note = "") {
    logLine("http " + logField(request.method) + " " + logField(request.path) + " " + std::to_string(status) + " " +
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
    const Validators validators = validatorsOf(info);
    response.set_header("ETag", validators.entityTag);
    response.set_header("Last-Modified", validators.lastModified);
    logRequest(request, request.ranges.empty() ? 200 : 206, size);
    response.set_content_provider(
        size, type,
        [file](size_t offset, size_t length, httplib::DataSink& sink) {
            char piece[64 * 1024];
            size_t count = std::min(length, sizeof piece);
            ssize_t got = ::pread(file, piece, count, static_cast<off_t>(offset));
            return !stopRequested && got > 0 && sink.write(piece, static_cast<size_t>(got));
        },
        [file, request, size](bool success) {
            ::close(file);
            if (!success) logRequest(request, 200, size, " cut off");
        });
}

}  // namespace

HttpStore::HttpStore(const std::string& root, HttpLimits limits)
    : server_(std::make_unique<StoreServer>()), limits_(limits), acceptor_("http", limits.accept) {
    // Any path, line breaks included ("." would not match them and leave the request unlogged).
    server_->Get("[\\s\\S]*", [root](const httplib::Request& request, httplib::Response& response) {
        serveFile(root, request, response);
    });
    server_->setRequestCheck([root](httplib::Request& request) { dropRangeUnlessServable(root, request); });
    // The handler logs what it answers (200, 206, 404); whatever httplib answers
    // on its own (other methods, a Range it cannot parse) is logged here.
    server_->set_logger([](const httplib::Request& request, const httplib::Response& response) {
        bool handled = (request.method == "GET" || request.method == "HEAD") &&
                       (response.status == 200 || response.status == 206 || response.status == 404);
        if (!handled) logRequest(request, response.status, response.body.size());
    });
}

HttpStore::~HttpStore() {
    stop();
    if (poller_ >= 0) ::close(poller_);
}

bool HttpStore::listenOn(const std::string& address, int port, int& code) {
    if (!acceptor_.listenOn(address, port, code)) return false;
    server_->useListener(acceptor_.listener());
    return true;
}

bool HttpStore::start(std::string& problem) {
    poller_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (poller_ < 0) {
        problem = std::string("cannot start the HTTP store: ") + std::strerror(errno);
        return false;
    }
    try {
        threads_.emplace_back([this] { acceptLoop(); });
        threads_.emplace_back([this] { gatherLoop(); });
        for (int i = 0; i < limits_.workers; ++i) threads_.emplace_back([this] { workerLoop(); });
    } catch (const std::system_error& error) {
        problem = "cannot start " + std::to_string(limits_.workers) + " HTTP workers: " + error.what();
        stopRequested = true;
        stop();
        return false;
    }
    return true;
}

void HttpStore::stop() {
    queued_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    std::lock_guard<std::mutex> lock(waitingMutex_);
    for (auto& [socket, waiting] : waiting_) {
        ::close(socket);
        acceptor_.release(waiting.connection);
    }
    waiting_.clear();
}

void HttpStore::acceptLoop() {
    for (;;) {
        Accepted accepted = acceptor_.next();
        if (accepted.socket < 0) break;
        {
            std::lock_guard<std::mutex> lock(waitingMutex_);
            waiting_[accepted.socket] = {accepted, std::chrono::steady_clock::now() + limits_.timeout};
        }
        // Edge-triggered: woken once per arrival, so a half request does not keep waking the gatherer.
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
        event.data.fd = accepted.socket;
        if (::epoll_ctl(poller_, EPOLL_CTL_ADD, accepted.socket, &event) != 0) {
            dropWaiting(accepted.socket, "cannot watch the connection");
        }
    }
}

void HttpStore::gatherLoop() {
    epoll_event events[64];
    while (!stopRequested) {
        int count = ::epoll_wait(poller_, events, 64, 250);
        for (int i = 0; i < count; ++i) {
            int socket = events[i].data.fd;
            Accepted connection;
            std::string head;
            Arrival arrival;
            {
                std::lock_guard<std::mutex> lock(waitingMutex_);
                auto found = waiting_.find(socket);
                if (found == waiting_.end()) continue;
                arrival = requestArrival(socket, head);
                if (arrival == Arrival::Partial) continue;
                ::epoll_ctl(poller_, EPOLL_CTL_DEL, socket, nullptr);
                connection = found->second.connection;
                waiting_.erase(found);
            }
            std::string refusal = arrival == Arrival::Whole ? refusalOf(head) : "";
            if (arrival == Arrival::Failed) {
                ::close(socket);
                acceptor_.release(connection);
            } else if (arrival == Arrival::TooLarge) {
                answerAndRefuse(connection, TooLargeAnswer,
                                "request headers over " + std::to_string(MostRequestBytes) + " bytes; answered 431");
            } else if (!refusal.empty()) {
                answerAndRefuse(connection, TooLargeAnswer, refusal);
            } else {
                hand(connection);
            }
        }
        // Connections whose request did not arrive in time.
        std::vector<int> late;
        auto now = std::chrono::steady_clock::now();
        {
            std::lock_guard<std::mutex> lock(waitingMutex_);
            for (const auto& [socket, waiting] : waiting_) {
                if (waiting.deadline <= now) late.push_back(socket);
            }
        }
        for (int socket : late) dropWaiting(socket, "no whole request within the time limit");
    }
}

void HttpStore::dropWaiting(int socket, const char* reason) {
    Accepted connection;
    {
        std::lock_guard<std::mutex> lock(waitingMutex_);
        auto found = waiting_.find(socket);
        if (found == waiting_.end()) return;
        connection = found->second.connection;
        waiting_.erase(found);
    }
    ::epoll_ctl(poller_, EPOLL_CTL_DEL, socket, nullptr);
    acceptor_.refuse(connection, reason, false);
}

void HttpStore::hand(const Accepted& connection) {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (queue_.size() < static_cast<size_t>(limits_.queue)) {
            queue_.push_back(connection);
            queued_.notify_one();
            return;
        }
    }
    answerAndRefuse(connection, BusyAnswer,
                    "every worker busy and " + std::to_string(limits_.queue) + " requests queued; answered 503");
}

void HttpStore::answerAndRefuse(const Accepted& connection, const char* answer, const std::string& reason) {
    // What the client sent is read first (within reason): closing with unread
    // bytes resets the connection, and the client may lose the answer.
    char unread[16384];
    for (int i = 0; i < 16 && ::recv(connection.socket, unread, sizeof unread, MSG_DONTWAIT) > 0; ++i) {
    }
    ::send(connection.socket, answer, std::strlen(answer), MSG_NOSIGNAL | MSG_DONTWAIT);
    acceptor_.refuse(connection, reason, false);
}

void HttpStore::workerLoop() {
    for (;;) {
        Accepted connection;
        {
            std::unique_lock<std::mutex> lock(queueMutex_);
            // The oldest request whose address has a worker to spare: one
            // address's requests wait behind each other, never in front of others.
            auto next = queue_.end();
            queued_.wait_for(lock, std::chrono::milliseconds(250), [&] {
                next = std::find_if(queue_.begin(), queue_.end(), [&](const Accepted& waiting) {
                    auto found = busy_.find(waiting.address);
                    return limits_.workersPerAddress <= 0 || found == busy_.end() ||
                           found->second < limits_.workersPerAddress;
                });
                return next != queue_.end() || stopRequested;
            });
            if (stopRequested) {
                // Requests still queued are not served any more.
                for (const Accepted& left : queue_) {
                    ::close(left.socket);
                    acceptor_.release(left);
                }
                queue_.clear();
                return;
            }
            if (next == queue_.end()) continue;
            connection = *next;
            queue_.erase(next);
            ++busy_[connection.address];
        }
        // One request per connection: a worker is never left waiting for a
        // second request that a client may trickle in.
        server_->serveSocket(connection.socket, limits_.timeout, limits_.leastRate);
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            auto found = busy_.find(connection.address);
            if (--found->second == 0) busy_.erase(found);
        }
        acceptor_.release(connection);
    }
}

}  // namespace starfell::server
