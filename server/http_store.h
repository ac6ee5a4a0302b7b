// The static HTTP file store: serves the content folder read-only and logs
// one line per request.
#pragma once
#include <memory>
#include <string>
#include <thread>

namespace httplib { class Server; }

namespace starfell::server {

class HttpStore {
public:
    explicit HttpStore(const std::string& root);
    ~HttpStore();

    // Binds and listens; on failure returns false with `error` set (errno in `code`).
    bool listenOn(const std::string& address, int port, std::string& error, int& code);
    void start();  // serves on a thread of its own
    void stop();   // stops serving and waits for that thread

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
};

}  // namespace starfell::server
