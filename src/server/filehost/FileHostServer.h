#pragma once

#include "server/common/RunHttpServer.h"
#include "server/filehost/FileHostStore.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace filehost {

struct ServeOptions {
    // Base address downloads relocate to instead of this server's own "/files" path; the file
    // of id I named N is expected at <filesUrl>/I/N (the layout of the store's "files" folder).
    std::string filesUrl;
    // Test options, off by default.
    int64_t rateLimit = 0; // bytes per second and connection; 0 is unlimited
    double resetShare = 0; // that share of file answers is cut off halfway through the body
    int stallCount = 0;    // the first N ranged file answers stop halfway through...
    int stallSeconds = 30; // ...and hang that long before the connection is closed
    int threads = 96;      // worker threads: one per open connection
    bool log = false;      // one line per request on standard error
};

// The file host's web site on cpp-httplib:
//   POST /                   login form; a good login relocates to "/" with the user cookie
//   GET  /?c=abuse           the abuse form (links, reason, contact)
//   POST /?c=abuse           stores the report in reports.tsv (413 over kMaxReportBody) and
//                            answers a page that names each field cut at its bound
//   GET  /mgr_dl.php?d=&u=   302 to the file (403 unknown token, 404 unknown or disabled id)
//   GET  /files/<id>/<name>  the file, with or without Range (206/200), read with pread
//   POST /mgr_linkcheck.php  "id<i>=<code>" for each posted position (0 available, 1 not)
class FileHostServer {
public:
    FileHostServer(FileHostStore& store, ServeOptions options);
    ~FileHostServer();

    // The site, to be served by RunHttpServer with Hooks().
    httplib::Server& Http() { return *server_; }
    // Once bound, the site knows its own address; a stop wakes stalled and paced answers.
    TServeHooks Hooks();

private:
    FileHostStore& store_;
    ServeOptions options_;
    std::unique_ptr<httplib::Server> server_;
    // "ADDRESS:PORT" as bound, for relocations asked for without a Host header.
    std::string address_;
    std::atomic<uint64_t> fileAnswers_{0};
    std::atomic<int> stallsLeft_{0};
    std::atomic<bool> stopping_{false};
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;

    void Routes();
    void PostLogin(const std::string& body, httplib::Response& response);
    void PostAbuse(const httplib::Request& request, const std::string& body,
                   httplib::Response& response);
    // Ends the waits of running answers and keeps new ones from starting. Any thread.
    void Stopping();
    bool NextAnswerIsCut();
    // Sleeps until `deadline` or a stop signal; false when stopping.
    bool SleepUntil(std::chrono::steady_clock::time_point deadline);
};

} // namespace filehost
