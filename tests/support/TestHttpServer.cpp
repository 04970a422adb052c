#include "support/TestHttpServer.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <httplib.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bytes read from disk and handed to the socket in one step.
constexpr int64_t FileChunk = 64 * 1024;
// Pending connections the listening socket holds.
constexpr int ListenBacklog = 1024;
// Sleeps are cut into slices this long, so Stop ends them quickly.
constexpr int64_t SleepSliceMs = 20;

// "bytes=a-b", "bytes=a-", "bytes=-n" against a resource of `size` bytes. False when there is
// no usable single range; `satisfiable` false when the range lies past the end.
bool ParseRange(const std::string& header, int64_t size, int64_t& first, int64_t& last,
                bool& satisfiable) {
    satisfiable = true;
    if (header.rfind("bytes=", 0) != 0 || header.find(',') != std::string::npos)
        return false;
    const std::string range = header.substr(6);
    const size_t dash = range.find('-');
    if (dash == std::string::npos)
        return false;
    const std::string a = range.substr(0, dash), b = range.substr(dash + 1);
    try {
        if (a.empty()) {
            if (b.empty())
                return false;
            const int64_t suffix = std::stoll(b);
            first = std::max<int64_t>(0, size - suffix);
            last = size - 1;
        } else {
            first = std::stoll(a);
            last = b.empty() ? size - 1 : std::min<int64_t>(std::stoll(b), size - 1);
        }
    } catch (const std::exception&) {
        return false;
    }
    if (first < 0 || first >= size || last < first)
        satisfiable = false;
    return true;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

TTestHttpServer::TTestHttpServer(int threads)
    : server_(std::make_unique<httplib::Server>()), threads_(threads) {}

TTestHttpServer::~TTestHttpServer() {
    Stop();
}

void TTestHttpServer::Start(const std::string& address, int port) {
    const int threads = threads_;
    server_->new_task_queue = [threads] {
        return new httplib::ThreadPool(threads);
    };
    // One request per connection: an idle kept-alive connection would hold a worker.
    server_->set_keep_alive_max_count(1);
    server_->set_payload_max_length(16 * 1024 * 1024);
    auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        Handle(request, response);
    };
    server_->Get(".*", handler);
    server_->Post(".*", handler);
    // httplib listens with a backlog of 5, so a burst of parallel connects overflows it and
    // the dropped SYNs come back only after a second; the backlog is raised once bound.
    int listenSocket = -1;
    server_->set_socket_options([&listenSocket](int socket) {
        int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        listenSocket = socket;
    });
    port_ = port == 0 ? server_->bind_to_any_port(address)
                      : (server_->bind_to_port(address, port) ? port : -1);
    if (port_ <= 0)
        throw std::runtime_error("test HTTP server: cannot listen on " + address);
    if (listenSocket >= 0)
        ::listen(listenSocket, ListenBacklog);
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // The socket listens already; waiting for the loop keeps an early Stop from racing it.
    while (!server_->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TTestHttpServer::Stop() {
    stopping_ = true;
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

std::string TTestHttpServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string TTestHttpServer::Url(const std::string& path) const {
    return BaseUrl() + path;
}

void TTestHttpServer::ServeFile(const std::string& urlPath, const std::string& diskPath) {
    std::lock_guard lock(mutex_);
    files_[urlPath] = diskPath;
}

void TTestHttpServer::SetDocumentRoot(const std::string& dir) {
    std::lock_guard lock(mutex_);
    documentRoot_ = dir;
}

void TTestHttpServer::AddRedirect(const std::string& from, const std::string& to, int status) {
    AddPage(from, status, "", {{"Location", to}});
}

void TTestHttpServer::AddPage(const std::string& path, int status, const std::string& body,
                              const std::vector<std::pair<std::string, std::string>>& headers,
                              const std::string& contentType) {
    std::lock_guard lock(mutex_);
    pages_[path] = TPage{status, body, contentType, headers};
}

void TTestHttpServer::AddHandler(const std::string& path, THandler handler) {
    std::lock_guard lock(mutex_);
    handlers_[path] = std::move(handler);
}

void TTestHttpServer::SetIgnoreRange(bool ignore) {
    std::lock_guard lock(mutex_);
    ignoreRange_ = ignore;
}

void TTestHttpServer::SetRateLimit(int64_t bytesPerSecond) {
    std::lock_guard lock(mutex_);
    rate_ = bytesPerSecond;
}

void TTestHttpServer::SetCutAfter(int64_t afterBytes, int count, int64_t rangeStart) {
    std::lock_guard lock(mutex_);
    cutRangeStart_ = rangeStart;
    cutAfter_ = afterBytes;
    cutCount_ = count;
}

void TTestHttpServer::SetRandomCuts(double probability, uint32_t seed) {
    std::lock_guard lock(mutex_);
    randomCut_ = probability;
    randomState_ = seed ? seed : 1;
}

void TTestHttpServer::AddStall(int64_t afterBytes, int stallMs, int count, int64_t rangeStart) {
    std::lock_guard lock(mutex_);
    stalls_.push_back(TStall{afterBytes, stallMs, count, rangeStart});
}

void TTestHttpServer::SetFailFirst(int count, int status) {
    std::lock_guard lock(mutex_);
    failCount_ = count;
    failStatus_ = status;
}

std::vector<TTestHttpServer::TRequestRecord> TTestHttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

size_t TTestHttpServer::RequestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

void TTestHttpServer::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void TTestHttpServer::Record(const httplib::Request& request) {
    TRequestRecord record;
    record.method = request.method;
    record.version = request.version;
    record.path = request.path;
    const size_t question = request.target.find('?');
    if (question != std::string::npos)
        record.query = request.target.substr(question + 1);
    for (const auto& [name, value] : request.headers)
        record.headers[Lower(name)] = value;
    record.range = request.get_header_value("Range");
    record.body = request.body;
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(record));
}

bool TTestHttpServer::SleepUnlessStopping(int64_t ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping_) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - now, std::chrono::milliseconds(SleepSliceMs)));
    }
    return false;
}

void TTestHttpServer::Handle(const httplib::Request& request, httplib::Response& response) {
    Record(request);
    // We answer Range ourselves; httplib must not cut the body again.
    const_cast<httplib::Request&>(request).ranges.clear();
    std::string diskPath;
    {
        std::unique_lock lock(mutex_);
        if (failCount_ > 0) {
            --failCount_;
            response.status = failStatus_;
            response.set_content("failing on purpose", "text/plain");
            return;
        }
        if (const auto it = handlers_.find(request.path); it != handlers_.end()) {
            THandler handler = it->second;
            lock.unlock();
            handler(request, response);
            return;
        }
        if (const auto it = pages_.find(request.path); it != pages_.end()) {
            response.status = it->second.status;
            for (const auto& [name, value] : it->second.headers)
                response.headers.emplace(name, value);
            response.set_content(it->second.body, it->second.contentType.c_str());
            return;
        }
        if (const auto it = files_.find(request.path); it != files_.end()) {
            diskPath = it->second;
        } else if (!documentRoot_.empty() && request.path.find("..") == std::string::npos) {
            diskPath = documentRoot_ + request.path;
        }
    }
    if (diskPath.empty() || !ServeFileAnswer(diskPath, request, response)) {
        response.status = 404;
        response.set_content("not found", "text/plain");
    }
}

bool TTestHttpServer::ServeFileAnswer(const std::string& diskPath, const httplib::Request& request,
                                      httplib::Response& response) {
    const int fd = ::open(diskPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    const int64_t size = info.st_size;
    int64_t first = 0, last = size - 1;
    bool ranged = false;
    int64_t rate = 0, cutAt = -1, stallAt = -1;
    int stallMs = 0;
    {
        std::lock_guard lock(mutex_);
        bool satisfiable = true;
        const std::string header = request.get_header_value("Range");
        if (!ignoreRange_ && !header.empty() &&
            ParseRange(header, size, first, last, satisfiable)) {
            if (!satisfiable) {
                ::close(fd);
                response.status = 416;
                response.set_header("Content-Range", "bytes */" + std::to_string(size));
                response.set_content("", "text/plain");
                return true;
            }
            ranged = true;
        }
        const int64_t length = last - first + 1;
        rate = rate_;
        if (cutCount_ > 0 && length > cutAfter_ &&
            (cutRangeStart_ < 0 || (ranged && first == cutRangeStart_))) {
            --cutCount_;
            cutAt = cutAfter_;
        } else if (randomCut_ > 0 && length > 1) {
            randomState_ = randomState_ * 1103515245u + 12345u;
            const double draw = ((randomState_ >> 8) & 0xFFFF) / 65536.0;
            if (draw < randomCut_) {
                randomState_ = randomState_ * 1103515245u + 12345u;
                cutAt =
                    static_cast<int64_t>((randomState_ >> 4) %
                                         static_cast<uint32_t>(std::min<int64_t>(length, 1 << 30)));
            }
        }
        for (TStall& stall : stalls_) {
            if (stall.count > 0 && length > stall.afterBytes &&
                (stall.rangeStart < 0 || (ranged && first == stall.rangeStart))) {
                --stall.count;
                stallAt = stall.afterBytes;
                stallMs = stall.stallMs;
                break;
            }
        }
    }
    const int64_t length = size == 0 ? 0 : last - first + 1;
    response.status = ranged ? 206 : 200;
    response.set_header("Accept-Ranges", "bytes");
    if (ranged)
        response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                 std::to_string(last) + "/" + std::to_string(size));
    auto fdHolder = std::shared_ptr<int>(new int(fd), [](int* p) {
        ::close(*p);
        delete p;
    });
    const auto started = std::chrono::steady_clock::now();
    response.set_content_provider(
        static_cast<size_t>(length), "application/octet-stream",
        [this, fdHolder, first, rate, cutAt, stallAt, stallMs,
         started](size_t offset, size_t wanted, httplib::DataSink& sink) {
            const int64_t at = static_cast<int64_t>(offset);
            if (stallAt >= 0 && at >= stallAt) {
                SleepUnlessStopping(stallMs);
                ++cuts_;
                return false;
            }
            if (cutAt >= 0 && at >= cutAt) {
                ++cuts_;
                return false;
            }
            if (rate > 0) {
                const auto due = started + std::chrono::microseconds(at * 1000000 / rate);
                const auto now = std::chrono::steady_clock::now();
                if (due > now &&
                    !SleepUnlessStopping(
                        std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() +
                        1))
                    return false;
            }
            int64_t chunk = std::min<int64_t>(static_cast<int64_t>(wanted), FileChunk);
            if (cutAt >= 0)
                chunk = std::min(chunk, cutAt - at);
            if (stallAt >= 0)
                chunk = std::min(chunk, stallAt - at);
            if (rate > 0)
                chunk = std::min<int64_t>(chunk, std::max<int64_t>(1, rate / 50));
            thread_local std::vector<char> buffer;
            buffer.resize(static_cast<size_t>(chunk));
            const ssize_t got = ::pread(*fdHolder, buffer.data(), buffer.size(), first + at);
            if (got <= 0 || stopping_)
                return false;
            return sink.write(buffer.data(), static_cast<size_t>(got));
        });
    return true;
}
