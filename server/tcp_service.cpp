// Accepting launchers and the normal conversation with each of them.
#include "server/tcp_service.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "server/server_log.h"

namespace starfell::server {

namespace {

std::mutex threadsMutex;
std::condition_variable threadsDone;
int runningThreads = 0;

// Enough for the conversation's few kilobytes of buffers, with room for
// sanitizer builds; thousands of launchers then need little memory.
constexpr size_t ConnectionStackSize = 512 * 1024;

std::string quotedList(const std::string& text) {
    std::string out = "\"";
    for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out + "\"";
}

// Notices a launcher whose machine vanished without closing: a few minutes
// instead of the idle bound.
void keepAlive(int socket) {
    int on = 1, idle = 120, interval = 30, count = 4;
    setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

}  // namespace

struct TcpService::Job {
    TcpService* service;
    Accepted accepted;
    pthread_t thread{};
};

void TcpService::run() {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, ConnectionStackSize);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    for (;;) {
        Accepted accepted = acceptor_.next();
        if (accepted.socket < 0) break;
        // Small packets leave at once instead of waiting to be merged with the next one.
        int on = 1;
        setsockopt(accepted.socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        keepAlive(accepted.socket);
        {
            std::lock_guard<std::mutex> lock(threadsMutex);
            ++runningThreads;
        }
        auto* job = new Job{this, accepted};
        int code = pthread_create(&job->thread, &attributes, &TcpService::serveJob, job);
        if (code != 0) {
            delete job;
            {
                std::lock_guard<std::mutex> lock(threadsMutex);
                --runningThreads;
            }
            acceptor_.refuse(accepted, std::string("cannot start a thread (") + std::strerror(code) + ")");
        }
    }
    pthread_attr_destroy(&attributes);
    std::unique_lock<std::mutex> lock(threadsMutex);
    threadsDone.wait(lock, [] { return runningThreads == 0; });
}

void* TcpService::serveJob(void* argument) {
    std::unique_ptr<Job> job(static_cast<Job*>(argument));
    job->service->serve(job->accepted);
    return nullptr;
}

void TcpService::serve(const Accepted& accepted) {
    {
        Connection connection(accepted.socket, accepted.peer);
        connection.setIdleTimeout(limits_.idleTimeout);
        connection.log("connected");
        if (scenario_) {
            runScenario(*scenario_, connection, content_);
        } else {
            runConversation(connection, content_, limits_.helloTimeout);
        }
    }
    acceptor_.release(accepted);
    std::lock_guard<std::mutex> lock(threadsMutex);
    if (--runningThreads == 0) threadsDone.notify_all();
}

void runConversation(Connection& connection, const ContentFolder& content, std::chrono::milliseconds helloTimeout) {
    Bytes bytes = connection.readGreeting(helloTimeout);
    Greeting greeting = parseGreeting(bytes);
    if (!greeting.valid) {
        if (!stopRequested) connection.log("bad greeting: " + greeting.problem + "; closing");
        return;
    }
    std::string verdict = content.verdictFor(greeting.digest);
    connection.log("hello digest=" + logField(greeting.digest) + " verdict=" + verdict);
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
            connection.logReceived(other);
            break;
        case Connection::Event::Idle:
            connection.log("idle for " + std::to_string(connection.idleTimeout().count()) + " s; closing");
            return;
        case Connection::Event::Closed:
            connection.log("closed by launcher");
            return;
        case Connection::Event::Stopped:
            return;
        }
    }
}

}  // namespace starfell::server
