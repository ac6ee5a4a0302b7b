// The static HTTP file store: serves the content folder read-only and logs
// one line per request. A connection reaches a worker only once its whole
// request has arrived, so clients that trickle or send nothing hold no worker;
// one address holds only a few workers, and a download slower than the least
// rate is cut off, so slow readers cannot hold the store either.
#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/acceptor.h"

namespace starfell::server {

struct HttpLimits {
    AcceptLimits accept{1024, 32};
    int workers = 128;                 // downloads served at once
    int workersPerAddress = 8;         // of those, for one client address; 0: no cap
    int queue = 512;                   // whole requests waiting for a worker; more are answered 503
    std::chrono::seconds timeout{10};  // for the whole request to arrive, and for any stalled read or write
    long long leastRate = 1024;        // bytes a second a download must average over each `timeout`; 0: none
};

class StoreServer;

class HttpStore {
public:
    HttpStore(const std::string& root, HttpLimits limits);
    ~HttpStore();

    // Binds and listens; on failure returns false with errno in `code`.
    bool listenOn(const std::string& address, int port, int& code);
    // Starts the accepting, request-gathering and worker threads; false when
    // they cannot be started (the message says why).
    bool start(std::string& problem);
    void stop();  // stops serving and waits for every thread

private:
    struct Waiting {
        Accepted connection;
        std::chrono::steady_clock::time_point deadline;
    };

    void acceptLoop();
    void gatherLoop();
    void workerLoop();
    // A connection whose request has arrived: queued for a worker, or answered 503 when the queue is full.
    void hand(const Accepted& connection);
    // Sends a fixed answer to a request no worker will take, closes, and logs why.
    void answerAndRefuse(const Accepted& connection, const char* answer, const std::string& reason);
    void dropWaiting(int socket, const char* reason);

    std::unique_ptr<StoreServer> server_;
    HttpLimits limits_;
    Acceptor acceptor_;
    int poller_ = -1;

    std::mutex waitingMutex_;
    std::map<int, Waiting> waiting_;  // by socket: connections whose request has not yet arrived

    std::mutex queueMutex_;
    std::condition_variable queued_;
    std::deque<Accepted> queue_;
    std::map<std::string, int> busy_;  // workers serving each client address

    std::vector<std::thread> threads_;
};

}  // namespace starfell::server
