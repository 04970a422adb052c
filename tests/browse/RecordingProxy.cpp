#include "RecordingProxy.h"

#include <chrono>
#include <httplib.h>

namespace {

constexpr int ProxyThreads = 8;
constexpr int ForwardTimeoutSeconds = 30;

} // namespace

TRecordingProxy::TRecordingProxy() : server_(std::make_unique<httplib::Server>()) {
    server_->new_task_queue = [] {
        return new httplib::ThreadPool(ProxyThreads);
    };
    const auto forward = [this](const httplib::Request& request, httplib::Response& response) {
        std::string target;
        int delay = 0;
        int failure = 0;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back({request.method, request.target, request.body});
            target = target_;
            if (const auto found = delays_.find(request.path); found != delays_.end())
                delay = found->second;
            if (const auto found = failures_.find(request.path); found != failures_.end())
                failure = found->second;
        }
        if (failure > 0) {
            response.status = failure;
            response.set_content("failing on purpose", "text/plain");
            return;
        }
        if (delay > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        httplib::Client client(target);
        client.set_url_encode(false);
        client.set_read_timeout(ForwardTimeoutSeconds, 0);
        httplib::Headers headers;
        for (const char* name : {"SOAPAction", "User-Agent", "Accept", "Range"}) {
            if (request.has_header(name))
                headers.emplace(name, request.get_header_value(name));
        }
        const httplib::Result answer =
            request.method == "POST" ? client.Post(request.target.c_str(), headers, request.body,
                                                   request.get_header_value("Content-Type").c_str())
                                     : client.Get(request.target.c_str(), headers);
        if (!answer) {
            response.status = 502;
            response.set_content("the proxied server did not answer", "text/plain");
            return;
        }
        response.status = answer->status;
        response.set_content(answer->body, answer->get_header_value("Content-Type").c_str());
    };
    server_->Get(".*", forward);
    server_->Post(".*", forward);
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
}

TRecordingProxy::~TRecordingProxy() {
    server_->stop();
    if (thread_.joinable())
        thread_.join();
}

std::string TRecordingProxy::Url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void TRecordingProxy::SetTarget(const std::string& url) {
    std::lock_guard lock(mutex_);
    target_ = url;
}

void TRecordingProxy::SetDelay(const std::string& path, int ms) {
    std::lock_guard lock(mutex_);
    delays_[path] = ms;
}

void TRecordingProxy::SetFailure(const std::string& path, int status) {
    std::lock_guard lock(mutex_);
    failures_[path] = status;
}

std::vector<TRecordingProxy::TRequest> TRecordingProxy::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int TRecordingProxy::Count(const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const TRequest& request : requests_)
        count += request.target.starts_with(prefix) ? 1 : 0;
    return count;
}

void TRecordingProxy::Clear() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}
