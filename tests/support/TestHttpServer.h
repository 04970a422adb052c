#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// An HTTP server for tests and benches, run in-process on 127.0.0.1 (an ephemeral port unless
// one is given). It serves files from disk with byte ranges (read with pread, so neither the
// file nor a range is ever held in memory), fixed pages, relocations, and a set of faults to
// put clients through: answers that ignore Range, bodies cut off in the middle, stalls, a
// per-connection rate cap, and failing the first requests.
//
// Every setter may be called while the server runs; behaviours apply to the requests that start
// afterwards. Faults (IgnoreRange, cuts, stalls, rate, failures) apply to file answers only,
// except SetFailFirst, which fails any request.
class TTestHttpServer {
public:
    struct TRequestRecord {
        std::string method;
        // "HTTP/1.0" or "HTTP/1.1"
        std::string version;
        std::string path;
        std::string query;
        // The raw Range header, empty when absent.
        std::string range;
        std::map<std::string, std::string> headers; // names lower-cased
        std::string body;
    };

    using THandler = std::function<void(const httplib::Request&, httplib::Response&)>;

    // `threads`: size of the worker pool; keep it above the number of parallel connections,
    // since a stalled or rate-capped answer holds its worker.
    explicit TTestHttpServer(int threads = 48);
    ~TTestHttpServer();
    TTestHttpServer(const TTestHttpServer&) = delete;
    TTestHttpServer& operator=(const TTestHttpServer&) = delete;

    // Binds to address:port (port 0: an ephemeral one) and serves from a thread of its own.
    void Start(const std::string& address = "127.0.0.1", int port = 0);
    // Ends stalls and waits, closes the listening socket and joins the server thread.
    void Stop();
    int Port() const { return port_; }
    // "http://127.0.0.1:<port>"
    std::string BaseUrl() const;
    // BaseUrl() + path
    std::string Url(const std::string& path) const;

    // Serves the file at diskPath under urlPath (GET, with Range).
    void ServeFile(const std::string& urlPath, const std::string& diskPath);
    // Serves every file below dir under "/" + its relative path (no "..").
    void SetDocumentRoot(const std::string& dir);
    // A relocation from `from` to `to` (absolute or relative), with the given status.
    void AddRedirect(const std::string& from, const std::string& to, int status = 302);
    // A fixed answer for GET and POST of path; extraHeaders may repeat names (Set-Cookie).
    void AddPage(const std::string& path, int status, const std::string& body,
                 const std::vector<std::pair<std::string, std::string>>& extraHeaders = {},
                 const std::string& contentType = "text/html");
    // A handler of our own for GET and POST of path.
    void AddHandler(const std::string& path, THandler handler);

    // File answers are 200 with the whole file whatever Range says.
    void SetIgnoreRange(bool ignore);
    // Every file answer is paced to at most bytesPerSecond (0: no cap).
    void SetRateLimit(int64_t bytesPerSecond);
    // The next `count` file answers are cut off (connection closed) after `afterBytes` bytes of
    // body; with rangeStart >= 0 only ranged answers starting at that byte count.
    void SetCutAfter(int64_t afterBytes, int count, int64_t rangeStart = -1);
    // Each file answer is cut off with probability `probability` at a random point of its body.
    void SetRandomCuts(double probability, uint32_t seed = 1);
    // Adds a stall: the next `count` file answers (with rangeStart >= 0: ranged answers starting
    // at that byte) stop sending for `stallMs` after `afterBytes` bytes, then are cut off.
    // Several stalls may be pending at once; the first that matches an answer applies.
    void AddStall(int64_t afterBytes, int stallMs, int count, int64_t rangeStart = -1);
    // The next `count` requests, of any kind, are answered with `status`.
    void SetFailFirst(int count, int status = 503);

    std::vector<TRequestRecord> Requests() const;
    size_t RequestCount() const;
    void ClearRequests();
    // File answers cut off so far (by cuts, random cuts and stalls).
    int CutCount() const { return cuts_; }

private:
    void Handle(const httplib::Request& request, httplib::Response& response);
    bool ServeFileAnswer(const std::string& diskPath, const httplib::Request& request,
                         httplib::Response& response);
    bool SleepUnlessStopping(int64_t ms);
    void Record(const httplib::Request& request);

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int threads_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;
    std::map<std::string, std::string> files_;
    std::string documentRoot_;
    struct TPage {
        int status;
        std::string body;
        std::string contentType;
        std::vector<std::pair<std::string, std::string>> headers;
    };
    std::map<std::string, TPage> pages_;
    std::map<std::string, THandler> handlers_;
    std::vector<TRequestRecord> requests_;
    bool ignoreRange_ = false;
    int64_t rate_ = 0;
    int64_t cutAfter_ = 0;
    int cutCount_ = 0;
    int64_t cutRangeStart_ = -1;
    double randomCut_ = 0;
    uint32_t randomState_ = 1;
    struct TStall {
        int64_t afterBytes;
        int stallMs;
        int count;
        int64_t rangeStart;
    };
    std::vector<TStall> stalls_;
    int failCount_ = 0;
    int failStatus_ = 503;
    std::atomic<int> cuts_{0};
};
