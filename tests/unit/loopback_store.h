// A static HTTP store on 127.0.0.1 for the loopback tests of both builds: files
// put by their path below a prefix (e.g. "patches/"), 404 for anything else,
// a range of a file (unconditionally) as a partial answer.
// Each file put is signed by the real minisign with the test key, as an
// operator's store is. It logs the paths asked for and how many answers were
// at work at once.
#pragma once

// Before anything that may bring in <windows.h>: httplib needs <winsock2.h> first.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "update/download.h"

namespace starfell::test {

class LoopbackStore {
public:
    explicit LoopbackStore(const std::string& prefix) : prefix_(prefix) {
        server_.Get("/" + prefix + "(.+)", [this](const httplib::Request& request, httplib::Response& response) {
            int delay = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                mostInFlight_ = std::max(mostInFlight_, ++inFlight_);
                requests_.push_back(request.matches[1]);
                delay = delayMs_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            std::lock_guard<std::mutex> lock(mutex_);
            --inFlight_;
            const auto found = files_.find(request.matches[1]);
            if (found == files_.end()) {
                response.status = 404;
            } else {
                // A range of a file is a partial answer, as a static web server gives it.
                const bool ranged = found->second.status == 200 && request.ranges.size() == 1;
                response.status = ranged ? 206 : found->second.status;
                response.set_content(found->second.bytes, "application/octet-stream");
            }
        });
        // One answer per connection: a client that keeps its connection open
        // (Wine's wininet does) would otherwise hold up stop() for the whole
        // keep-alive time.
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LoopbackStore() {
        server_.stop();
        thread_.join();
    }

    // The store's root, "http://127.0.0.1:<port>/" (the prefix is not part of it).
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    // The file and FILE.minisig beside it, signed with the test key for its
    // place below the store's root.
    void put(const std::string& path, const std::string& bytes) {
        answer(path + ".minisig", 200, minisignSignature(prefix_ + path, bytes));
        answer(path, 200, bytes);
    }
    // The file alone, or any bytes in place of a signature.
    void putUnsigned(const std::string& path, const std::string& bytes) { answer(path, 200, bytes); }
    // An error status with a page of its own, as a store's error pages are.
    void answer(const std::string& path, int status, const std::string& bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        files_[path] = {status, bytes};
    }
    // Every answer waits this long first, so overlapping requests would show.
    void setDelay(int milliseconds) {
        std::lock_guard<std::mutex> lock(mutex_);
        delayMs_ = milliseconds;
    }
    // The files asked for, signatures left out.
    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> files;
        for (const std::string& path : requests_)
            if (path.size() < 8 || path.compare(path.size() - 8, 8, ".minisig") != 0) files.push_back(path);
        return files;
    }
    std::vector<std::string> allRequests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    int mostInFlight() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return mostInFlight_;
    }

private:
    httplib::Server server_;
    std::thread thread_;
    const std::string prefix_;
    int port_ = 0;
    mutable std::mutex mutex_;
    struct Answer {
        int status;
        std::string bytes;
    };
    std::map<std::string, Answer> files_;
    std::vector<std::string> requests_;
    int delayMs_ = 0, inFlight_ = 0, mostInFlight_ = 0;
};

}  // namespace starfell::test
