#include "server/filehost/FileHostServer.h"

#include "server/filehost/AbuseReport.h"
#include "server/filehost/FormCodec.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace filehost {

namespace {

// Bytes read from disk and handed to the socket at once.
constexpr size_t kChunkSize = 64 * 1024;
// With a rate limit, pieces small enough for an even pace (a tenth of a second each).
constexpr int kPacingSlicesPerSecond = 10;
// Largest form body accepted.
constexpr size_t kMaxFormBody = 1024 * 1024;
// Largest login form body: the bound cpp-httplib puts on every form body it reads itself.
constexpr size_t kMaxLoginBody = 8192;
// Most positions answered by one link check.
constexpr size_t kMaxLinkCheckPositions = 10000;
constexpr size_t kKeepAliveRequests = 1000;
// Also how long a stop waits for idle connections to end.
constexpr time_t kKeepAliveSeconds = 2;
// How long the login cookie is meant to last.
constexpr char kCookieAttributes[] = "; expires=Fri, 31-Dec-2038 23:59:59 GMT; path=/";

std::string Page(const std::string& title, const std::string& body) {
    return "<html><head><title>" + title + "</title></head><body>" + body + "</body></html>\n";
}

// An open file shared by the content provider calls of one answer.
struct OpenFile {
    int fd = -1;
    ~OpenFile() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Turns suffix and open ranges into first-last pairs and clips them to the file; false when one
// of them holds no byte of the file.
bool NormalizeRanges(httplib::Ranges& ranges, ssize_t size) {
    for (auto& [first, last] : ranges) {
        if (first == -1 && last == -1)
            return false;
        if (first == -1) {
            if (last == 0)
                return false;
            first = std::max<ssize_t>(0, size - last);
            last = size - 1;
        }
        if (last == -1 || last >= size)
            last = size - 1;
        if (first >= size || first > last)
            return false;
    }
    return true;
}

// Answers `page` and ends the connection after it, for a request whose body was not read to
// its end. cpp-httplib keeps a connection open whatever the answer says, unless writing the
// answer fails: the provider hands over the whole page and then reports a failure.
void AnswerAndClose(httplib::Response& response, const std::string& page) {
    auto content = std::make_shared<std::string>(page);
    response.set_header("Connection", "close");
    response.set_content_provider(content->size(), "text/html",
                                  [content](size_t offset, size_t length, httplib::DataSink& sink) {
                                      if (offset < content->size())
                                          sink.write(content->data() + offset,
                                                     std::min(length, content->size() - offset));
                                      return false;
                                  });
}

// "2024-05-01T12:00:00Z" for now.
std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// The request's Content-Length when it has a well-formed one.
std::optional<uint64_t> ContentLength(const httplib::Request& request) {
    if (!request.has_header("Content-Length"))
        return std::nullopt;
    const std::string text = request.get_header_value("Content-Length");
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

FileHostServer::FileHostServer(FileHostStore& store, ServeOptions options)
    : store_(store), options_(std::move(options)), server_(std::make_unique<httplib::Server>()) {
    stallsLeft_ = options_.stallCount;
    const size_t threads = static_cast<size_t>(std::max(options_.threads, 4));
    server_->new_task_queue = [threads] {
        return new httplib::ThreadPool(threads);
    };
    server_->set_keep_alive_max_count(kKeepAliveRequests);
    server_->set_keep_alive_timeout(kKeepAliveSeconds);
    server_->set_payload_max_length(kMaxFormBody);
    if (options_.log) {
        server_->set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
            const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch());
            const std::string range = request.get_header_value("Range");
            std::fprintf(stderr, "%lld.%03lld %s %s %s %s start\n",
                         static_cast<long long>(now.count() / 1000),
                         static_cast<long long>(now.count() % 1000), request.remote_addr.c_str(),
                         request.method.c_str(), request.target.c_str(),
                         range.empty() ? "-" : range.c_str());
            return httplib::Server::HandlerResponse::Unhandled;
        });
        server_->set_logger([](const httplib::Request& request, const httplib::Response& response) {
            const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch());
            const std::string range = request.get_header_value("Range");
            std::fprintf(stderr, "%lld.%03lld %s %s %s %s -> %d\n",
                         static_cast<long long>(now.count() / 1000),
                         static_cast<long long>(now.count() % 1000), request.remote_addr.c_str(),
                         request.method.c_str(), request.target.c_str(),
                         range.empty() ? "-" : range.c_str(), response.status);
        });
    }
    Routes();
}

FileHostServer::~FileHostServer() = default;

TServeHooks FileHostServer::Hooks() {
    TServeHooks hooks;
    hooks.Bound = [this](const TListenAddress& bound) {
        address_ = bound.ToString().toStdString();
    };
    hooks.Stopping = [this] {
        Stopping();
    };
    return hooks;
}

void FileHostServer::Stopping() {
    {
        std::lock_guard guard(stopMutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
}

bool FileHostServer::SleepUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(stopMutex_);
    stopSignal_.wait_until(lock, deadline, [this] { return stopping_.load(); });
    return !stopping_;
}

bool FileHostServer::NextAnswerIsCut() {
    if (options_.resetShare <= 0)
        return false;
    // Answer k is cut when the running share crosses a whole number: exactly that share of
    // answers, spread evenly, the same on every run.
    const uint64_t k = fileAnswers_++;
    return std::floor((k + 1) * options_.resetShare) > std::floor(k * options_.resetShare);
}

void FileHostServer::Routes() {
    server_->Get("/", [this](const httplib::Request& request, httplib::Response& response) {
        if (request.get_param_value("c") == "abuse") {
            response.set_content(AbuseFormPage(), "text/html; charset=utf-8");
            return;
        }
        const std::string id = request.get_param_value("d");
        if (id.empty()) {
            response.set_content(Page("File host", "<form method=\"post\" action=\"/\">"
                                                   "<input name=\"username\"><input "
                                                   "name=\"password\" type=\"password\">"
                                                   "<input type=\"hidden\" name=\"login\" "
                                                   "value=\"1\"></form>"),
                                 "text/html");
            return;
        }
        const auto file = store_.Find(id);
        if (!file || !file->available) {
            response.status = 404;
            response.set_content(Page("File host", "The file is not available."), "text/html");
            return;
        }
        response.set_content(Page("File host", "File: " + file->name), "text/html");
    });

    // The body is read here rather than by the library, which refuses form bodies over 8 KiB:
    // the abuse form takes up to kMaxReportBody. The library reads no form field of the body
    // into the request's parameters, so "c" is the query's.
    server_->Post("/", [this](const httplib::Request& request, httplib::Response& response,
                              const httplib::ContentReader& content) {
        const bool abuse = request.get_param_value("c") == "abuse";
        const size_t limit = abuse ? kMaxReportBody : kMaxLoginBody;
        if (request.is_multipart_form_data()) {
            response.status = 415;
            response.set_content(Page("File host", "Send the form as a plain form."), "text/html");
            return;
        }
        // A refused body up to kMaxFormBody is still read (and dropped), so that the client gets
        // to read the refusal and the connection stays in step; a larger one ends it.
        const auto tooLarge = [&response](bool endConnection) {
            response.status = 413;
            const std::string page = Page("File host", "The form is too large.");
            if (endConnection)
                AnswerAndClose(response, page);
            else
                response.set_content(page, "text/html");
        };
        if (const auto length = ContentLength(request); length && *length > kMaxFormBody)
            return tooLarge(true);
        std::string body;
        size_t received = 0;
        const bool read = content([&](const char* data, size_t length) {
            received += length;
            if (received > kMaxFormBody)
                return false;
            if (received <= limit)
                body.append(data, length);
            return true;
        });
        if (received > limit)
            return tooLarge(received > kMaxFormBody);
        if (!read) {
            response.status = 400;
            response.set_content(Page("File host", "The form did not arrive whole."), "text/html");
            return;
        }
        if (abuse)
            PostAbuse(request, body, response);
        else
            PostLogin(body, response);
    });

    server_->Get(
        "/mgr_dl.php", [this](const httplib::Request& request, httplib::Response& response) {
            if (!store_.IsToken(request.get_param_value("u"))) {
                response.status = 403;
                response.set_content(Page("File host", "Please log in."), "text/html");
                return;
            }
            const auto file = store_.Find(request.get_param_value("d"));
            if (!file || !file->available) {
                response.status = 404;
                response.set_content(Page("File host", "The file is not available."), "text/html");
                return;
            }
            std::string base = options_.filesUrl;
            if (base.empty()) {
                std::string host = request.get_header_value("Host");
                if (host.empty())
                    host = address_;
                base = "http://" + host + "/files";
            }
            while (!base.empty() && base.back() == '/')
                base.pop_back();
            response.set_redirect(base + "/" + file->id + "/" + EncodePathSegment(file->name), 302);
        });

    server_->Get(R"(/files/([A-Z0-9]{8})/([^/]+))", [this](const httplib::Request& request,
                                                           httplib::Response& response) {
        const auto file = store_.Find(request.matches[1]);
        if (!file || !file->available || file->name != std::string(request.matches[2])) {
            response.status = 404;
            response.set_content(Page("File host", "Not found."), "text/html");
            return;
        }
        auto open = std::make_shared<OpenFile>();
        open->fd = ::open(file->path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (open->fd < 0 || ::fstat(open->fd, &info) != 0) {
            response.status = 404;
            response.set_content(Page("File host", "Not found."), "text/html");
            return;
        }
        const auto size = static_cast<size_t>(info.st_size);
        response.set_header("Accept-Ranges", "bytes");
        // httplib slices the answer by the request's ranges as they stand; make them explicit
        // and inside the file first, and refuse a range that lies outside it.
        auto& ranges = const_cast<httplib::Ranges&>(request.ranges);
        if (!NormalizeRanges(ranges, static_cast<ssize_t>(size))) {
            ranges.clear();
            response.status = 416;
            response.set_header("Content-Range", "bytes */" + std::to_string(size));
            return;
        }
        if (size == 0) {
            response.set_content("", "application/octet-stream");
            return;
        }
        const bool cut = NextAnswerIsCut();
        bool stall = false;
        if (!request.ranges.empty() && stallsLeft_.load() > 0)
            stall = stallsLeft_.fetch_sub(1) > 0;
        const int64_t rate = options_.rateLimit;
        const int stallSeconds = options_.stallSeconds;
        // Each answer (so each connection, one answer at a time) keeps its own pace and count.
        struct Progress {
            std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
            size_t sent = 0;
            size_t firstOffset = static_cast<size_t>(-1);
        };
        auto progress = std::make_shared<Progress>();
        // httplib applies the Range: it asks for the bytes of the range only, and answers 206
        // with Content-Range, or 416 for a range outside the file.
        response.set_content_provider(
            size, "application/octet-stream",
            [this, open, progress, cut, stall, rate, stallSeconds](size_t offset, size_t length,
                                                                   httplib::DataSink& sink) {
                if (progress->firstOffset == static_cast<size_t>(-1))
                    progress->firstOffset = offset;
                size_t piece = std::min(length, kChunkSize);
                if (rate > 0)
                    piece = std::min(piece, std::max<size_t>(1, static_cast<size_t>(rate) /
                                                                    kPacingSlicesPerSecond));
                if (cut || stall) {
                    // The answer's own length is what is left from the first offset asked for.
                    const size_t half = (offset + length - progress->firstOffset) / 2;
                    if (progress->sent >= half) {
                        if (stall)
                            SleepUntil(std::chrono::steady_clock::now() +
                                       std::chrono::seconds(stallSeconds));
                        return false;
                    }
                    piece = std::min(piece, std::max<size_t>(1, half - progress->sent));
                }
                std::vector<char> buffer(piece);
                ssize_t got;
                do
                    got = ::pread(open->fd, buffer.data(), piece, static_cast<off_t>(offset));
                while (got < 0 && errno == EINTR);
                if (got <= 0)
                    return false;
                // A piece leaves once the pace has earned it, so the answer takes its full
                // time and its last byte ends it: no wait after it holds the connection.
                if (rate > 0) {
                    const auto due =
                        progress->start + std::chrono::microseconds(static_cast<int64_t>(
                                              (progress->sent + static_cast<size_t>(got)) * 1e6 /
                                              static_cast<double>(rate)));
                    if (!SleepUntil(due))
                        return false;
                }
                if (!sink.write(buffer.data(), static_cast<size_t>(got)))
                    return false;
                progress->sent += static_cast<size_t>(got);
                return true;
            });
    });

    server_->Post("/mgr_linkcheck.php",
                  [this](const httplib::Request& request, httplib::Response& response) {
                      std::string answer;
                      size_t positions = 0;
                      for (const auto& [key, value] : ParseForm(request.body)) {
                          if (key.size() < 3 || key.compare(0, 2, "id") != 0 ||
                              key.find_first_not_of("0123456789", 2) != std::string::npos)
                              continue;
                          if (++positions > kMaxLinkCheckPositions)
                              break;
                          const auto file = value.empty() ? std::nullopt : store_.Find(value);
                          if (!answer.empty())
                              answer += '&';
                          answer += key + "=" + (file && file->available ? "0" : "1");
                      }
                      response.set_content(answer, "text/plain");
                  });
}

void FileHostServer::PostLogin(const std::string& body, httplib::Response& response) {
    const auto fields = ParseForm(body);
    const std::string name = FormValue(fields, "username");
    const std::string password = FormValue(fields, "password");
    std::optional<std::string> token;
    if (FormValue(fields, "login") == "1" && !name.empty() && !password.empty())
        token = store_.Login(name, password);
    if (!token) {
        response.set_content(Page("File host", "Username and password do not match."), "text/html");
        return;
    }
    response.set_header("Set-Cookie", "user=" + *token + kCookieAttributes);
    response.set_redirect("/", 302);
}

void FileHostServer::PostAbuse(const httplib::Request& request, const std::string& body,
                               httplib::Response& response) {
    std::vector<FieldCut> cuts;
    AbuseReport report = ReadAbuseForm(body, cuts);
    if (IsEmptyReport(report)) {
        response.status = 400;
        response.set_content(AbuseFormPage("Please name the links or say what is wrong."),
                             "text/html; charset=utf-8");
        return;
    }
    report.time = UtcNow();
    report.address = request.remote_addr;
    try {
        store_.AppendReport(ReportLine(report));
    } catch (const StoreError& error) {
        std::fprintf(stderr, "tavilon-filehost: an abuse report was not stored: %s\n",
                     error.what());
        response.status = 500;
        response.set_content(Page("File host", "The report could not be stored; please try "
                                               "again later."),
                             "text/html");
        return;
    }
    response.set_content(AbuseThanksPage(cuts), "text/html; charset=utf-8");
}

} // namespace filehost
