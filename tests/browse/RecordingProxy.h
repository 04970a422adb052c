#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

// A pass-through HTTP proxy in front of one of our real servers, on 127.0.0.1 (ephemeral
// port) and on threads of its own, so that it also answers while the GUI thread blocks in a
// catalogue call. It records every request and can hold back the answers of chosen paths, so a
// test sees exactly what the client asked for and can make a download slow.
class TRecordingProxy {
public:
    struct TRequest {
        std::string method;
        std::string target; // path and query, as sent
        std::string body;
    };

    TRecordingProxy();
    ~TRecordingProxy();
    TRecordingProxy(const TRecordingProxy&) = delete;
    TRecordingProxy& operator=(const TRecordingProxy&) = delete;

    // "http://127.0.0.1:<port>"
    std::string Url() const;
    // Where requests go: "http://HOST:PORT". May be set after the proxy started.
    void SetTarget(const std::string& url);
    // Answers for `path` are held back `ms` milliseconds before they are forwarded.
    void SetDelay(const std::string& path, int ms);
    // Requests for `path` are answered with `status` instead of being forwarded (0: forward).
    void SetFailure(const std::string& path, int status);

    std::vector<TRequest> Requests() const;
    // Requests whose target starts with `prefix`.
    int Count(const std::string& prefix) const;
    void Clear();

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::string target_;
    std::map<std::string, int> delays_;
    std::map<std::string, int> failures_;
    std::vector<TRequest> requests_;
};
