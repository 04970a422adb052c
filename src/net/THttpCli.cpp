#include "net/THttpCli.h"

#include "core/ErrorReporting.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QIODevice>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QUrl>

namespace {

// Connection set-up (name lookup, TCP, proxy) must not take longer than this.
constexpr long ConnectTimeoutSeconds = 30;
// Size of the receive buffer curl reads the socket into.
constexpr long ReceiveBufferSize = 128 * 1024;
// A relocation's body is read and dropped up to this size, so the connection can be reused;
// a longer one ends the hop at once.
constexpr int64_t MaxDiscardedRelocationBody = 64 * 1024;
// Body bytes held for delivery before the transfer is paused until they are delivered, so a
// fast connection never piles up data in memory.
constexpr size_t MaxBufferedBody = 512 * 1024;
// The most header bytes of one answer we keep; a longer header ends the request.
constexpr qsizetype MaxHeaderBytes = 256 * 1024;
// A synchronous request looks at the application's state this often while it waits.
constexpr int SyncWaitSliceMs = 1000;
// Exit codes of the synchronous wait's event loop: ours, and anything else (the application's
// exit, which ends every event loop of the thread).
constexpr int SyncLoopFinished = 0x4854;
constexpr int SyncLoopSlice = 0x4855;

// Raises an event: the handler runs from a copy, so it may destroy the client (and with it the
// stored handler), and what it throws is reported instead of unwinding into the client.
template <typename Handler, typename... Args> void Raise(const Handler& handler, Args&&... args) {
    if (!handler)
        return;
    const Handler running = handler;
    RunReportingErrors([&] { running(std::forward<Args>(args)...); });
}

bool IsRelocationStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// "HTTP/1.1 302 Found" -> 302; 0 when the line is no status line.
int ParseStatusCode(const QByteArray& line) {
    const int space = line.indexOf(' ');
    if (!line.startsWith("HTTP/") || space < 0)
        return 0;
    bool ok = false;
    const int status = line.mid(space + 1, 3).toInt(&ok);
    return ok && status >= 100 && status <= 999 ? status : 0;
}

bool IsConnectFailure(CURLcode code) {
    return code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY ||
           code == CURLE_COULDNT_CONNECT || code == CURLE_URL_MALFORMAT ||
           code == CURLE_UNSUPPORTED_PROTOCOL;
}

curl_off_t ToCurlAuth(THttpAuth auth) {
    switch (auth) {
    case THttpAuth::Basic:
        return CURLAUTH_BASIC;
    case THttpAuth::Digest:
        return CURLAUTH_DIGEST;
    case THttpAuth::Ntlm:
        return CURLAUTH_NTLM;
    case THttpAuth::None:
        break;
    }
    return CURLAUTH_NONE;
}

QByteArray Latin1(const QString& text) {
    return text.toLatin1();
}

} // namespace

THttpCli::THttpCli(QObject* owner) : QObject(owner) {}

THttpCli::~THttpCli() {
    TCurlMulti::Instance().Forget(this);
    if (easy_)
        curl_easy_cleanup(easy_);
    curl_slist_free_all(headers_);
}

QString THttpCli::DocName() const {
    QString url = URL;
    for (const QChar end : {QLatin1Char('#'), QLatin1Char('?')}) {
        const int at = url.indexOf(end);
        if (at >= 0)
            url.truncate(at);
    }
    const int scheme = url.indexOf(QLatin1String("://"));
    if (scheme >= 0) {
        const int pathStart = url.indexOf(QLatin1Char('/'), scheme + 3);
        url = pathStart >= 0 ? url.mid(pathStart) : QString();
    }
    const QString name = url.mid(url.lastIndexOf(QLatin1Char('/')) + 1);
    return name.isEmpty() ? QStringLiteral("document.htm") : name;
}

void THttpCli::Get() {
    Synchronous(TMethod::Get);
}

void THttpCli::Post() {
    Synchronous(TMethod::Post);
}

void THttpCli::GetASync() {
    StartRequest(TMethod::Get);
    started_ = true;
}

void THttpCli::PostASync() {
    StartRequest(TMethod::Post);
}

void THttpCli::Abort() {
    if (!busy_) {
        Raise(onRequestDone_, this, 0);
        return;
    }
    DetachEasy();
    reasonPhrase_ = QStringLiteral("Request aborted");
    Finish(ErrorAborted);
}

void THttpCli::StartRequest(TMethod method) {
    if (busy_)
        throw EHttpException(QStringLiteral("HTTP client busy"), 0);
    method_ = method;
    postBody_.clear();
    if (method == TMethod::Post && SendStream) {
        if (!SendStream->isSequential())
            SendStream->seek(0);
        postBody_ = SendStream->readAll();
    }
    busy_ = true;
    ++requestId_;
    relocations_ = 0;
    rcvdCount_ = 0;
    statusCode_ = 0;
    reasonPhrase_.clear();
    contentLength_ = -1;
    location_.clear();
    rcvdHeader_.clear();
    SendHop();
}

void THttpCli::SendHop() {
    ++generation_;
    hop_ = THop{};
    received_.clear();
    if (!easy_)
        easy_ = curl_easy_init();
    else
        curl_easy_reset(easy_);
    curl_slist_free_all(headers_);
    headers_ = nullptr;

    requestUrl_ = URL.trimmed().toUtf8();
    curl_easy_setopt(easy_, CURLOPT_URL, requestUrl_.constData());
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION,
                     RequestVer == QLatin1String("1.1") ? CURL_HTTP_VERSION_1_1
                                                        : CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT, ConnectTimeoutSeconds);
    curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, curlError_);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &THttpCli::HeaderCallback);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &THttpCli::WriteCallback);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curlError_[0] = '\0';

    if (!Agent.isEmpty())
        curl_easy_setopt(easy_, CURLOPT_USERAGENT, Latin1(Agent).constData());
    headers_ = curl_slist_append(headers_, ("Accept: " + Latin1(Accept)).constData());
    if (!ContentRangeBegin.isEmpty() || !ContentRangeEnd.isEmpty())
        headers_ = curl_slist_append(
            headers_, ("Range: bytes=" + Latin1(ContentRangeBegin) + "-" + Latin1(ContentRangeEnd))
                          .constData());
    if (!Cookie.isEmpty())
        headers_ = curl_slist_append(headers_, ("Cookie: " + Latin1(Cookie)).constData());
    headers_ = curl_slist_append(headers_, "Expect:");
    if (method_ == TMethod::Post) {
        headers_ =
            curl_slist_append(headers_, ("Content-Type: " + Latin1(ContentTypePost)).constData());
        curl_easy_setopt(easy_, CURLOPT_POST, 1L);
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(postBody_.size()));
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, postBody_.constData());
    }
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);

    if (!Username.isEmpty() || !Password.isEmpty()) {
        curl_easy_setopt(easy_, CURLOPT_USERNAME, Username.toUtf8().constData());
        curl_easy_setopt(easy_, CURLOPT_PASSWORD, Password.toUtf8().constData());
        curl_easy_setopt(easy_, CURLOPT_HTTPAUTH, ToCurlAuth(ServerAuth));
    }
    if (!SocksServer.isEmpty()) {
        const QString scheme = SocksLevel == QLatin1String("4")    ? QStringLiteral("socks4")
                               : SocksLevel == QLatin1String("4A") ? QStringLiteral("socks4a")
                                                                   : QStringLiteral("socks5");
        const QString proxy = scheme + QStringLiteral("://") + SocksServer +
                              (SocksPort.isEmpty() ? QString() : QLatin1Char(':') + SocksPort);
        curl_easy_setopt(easy_, CURLOPT_PROXY, proxy.toUtf8().constData());
    } else if (!Proxy.isEmpty()) {
        curl_easy_setopt(easy_, CURLOPT_PROXY, Proxy.toUtf8().constData());
        curl_easy_setopt(easy_, CURLOPT_PROXYPORT, ProxyPort.toLong());
        curl_easy_setopt(easy_, CURLOPT_PROXYAUTH, ToCurlAuth(ProxyAuth));
    }
    if (!LocalAddr.isEmpty() && LocalAddr != QLatin1String("0.0.0.0"))
        curl_easy_setopt(easy_, CURLOPT_INTERFACE, ("host!" + Latin1(LocalAddr)).constData());

    curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
    TCurlMulti::Instance().Add(easy_, this);
}

// Inside curl: records the lines of the answer header; a status line starts a new answer, so
// interim (1xx) answers are dropped.
size_t THttpCli::HeaderCallback(char* buffer, size_t size, size_t count, void* userp) {
    auto* self = static_cast<THttpCli*>(userp);
    const size_t length = size * count;
    THop& hop = self->hop_;
    QByteArray line(buffer, static_cast<qsizetype>(length));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.startsWith("HTTP/")) {
        hop.headerLines.clear();
        hop.headerLines.append(line);
        return length;
    }
    if (!line.isEmpty()) {
        hop.headerBytes += line.size();
        if (hop.headerBytes > MaxHeaderBytes)
            return 0;
        if (!hop.headerLines.isEmpty())
            hop.headerLines.append(line);
        return length;
    }
    if (hop.headerLines.isEmpty())
        return length;
    const int status = ParseStatusCode(hop.headerLines.first());
    if (status >= 100 && status < 200) {
        hop.headerLines.clear();
        return length;
    }
    hop.headerComplete = true;
    if (self->FollowRelocation && IsRelocationStatus(status)) {
        for (const QByteArray& header : hop.headerLines)
            if (header.toLower().startsWith("location:"))
                hop.relocating = true;
    }
    self->RequestPending();
    return length;
}

// Inside curl: keeps the body for delivery; a relocation's body is dropped.
size_t THttpCli::WriteCallback(char* buffer, size_t size, size_t count, void* userp) {
    auto* self = static_cast<THttpCli*>(userp);
    const size_t length = size * count;
    THop& hop = self->hop_;
    if (hop.relocating) {
        hop.discarded += static_cast<int64_t>(length);
        return hop.discarded > MaxDiscardedRelocationBody ? 0 : length;
    }
    if (self->received_.size() >= MaxBufferedBody) {
        hop.paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    // One allocation of the most the buffer can hold, instead of growth by doubling.
    if (self->received_.capacity() < MaxBufferedBody + ReceiveBufferSize)
        self->received_.reserve(MaxBufferedBody + ReceiveBufferSize);
    self->received_.insert(self->received_.end(), buffer, buffer + length);
    self->RequestPending();
    return length;
}

void THttpCli::CurlTransferEnded(CURL*, CURLcode result) {
    hop_.ended = true;
    hop_.result = result;
    RequestPending();
}

void THttpCli::RequestPending() {
    if (!deliveryQueued_) {
        deliveryQueued_ = true;
        TCurlMulti::Instance().MarkPending(this);
    }
}

void THttpCli::ParseHeader() {
    rcvdHeader_.clear();
    location_.clear();
    contentLength_ = -1;
    cookies_.clear();
    const QByteArray& statusLine = hop_.headerLines.first();
    statusCode_ = ParseStatusCode(statusLine);
    const int firstSpace = statusLine.indexOf(' ');
    const int secondSpace = firstSpace < 0 ? -1 : statusLine.indexOf(' ', firstSpace + 1);
    reasonPhrase_ =
        secondSpace < 0 ? QString() : QString::fromLatin1(statusLine.mid(secondSpace + 1));
    for (const QByteArray& line : hop_.headerLines) {
        rcvdHeader_.append(QString::fromLatin1(line));
        const int colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool ok = false;
            const qlonglong length = value.toLongLong(&ok);
            contentLength_ = ok && length >= 0 ? length : -1;
        } else if (name == "location") {
            const QUrl base(QString::fromUtf8(requestUrl_));
            const QUrl target = base.resolved(QUrl(QString::fromLatin1(value)));
            location_ = target.isValid() ? target.toString(QUrl::FullyEncoded) : QString();
        } else if (name == "set-cookie") {
            cookies_.append(QString::fromLatin1(value));
        }
    }
}

// Outside curl: raises what the callbacks recorded, in order: the cookies and the end of the
// header, the data, the end of the hop. Any handler may end, restart or destroy this client;
// the generation tells when it did.
void THttpCli::CurlDeliver() {
    deliveryQueued_ = false;
    const QPointer<THttpCli> self(this);
    const uint64_t generation = generation_;
    const auto overtaken = [&] {
        return !self || generation_ != generation;
    };

    if (hop_.headerComplete && !hop_.headerDelivered) {
        hop_.headerDelivered = true;
        ParseHeader();
        const QStringList cookies = cookies_;
        for (const QString& cookie : cookies) {
            bool accept = true;
            Raise(onCookie_, this, cookie, accept);
            if (overtaken())
                return;
        }
        Raise(onHeaderEnd_, this);
        if (overtaken())
            return;
    }
    if (!received_.empty()) {
        // A delivery nested in a handler of an outer one gets a buffer of its own: the outer
        // handler is still reading its block.
        std::vector<char> nested;
        std::vector<char>& block = deliveryDepth_ == 0 ? delivering_ : nested;
        block.clear(); // what a handler that threw left behind was delivered already
        block.swap(received_);
        rcvdCount_ += static_cast<int64_t>(block.size());
        if (RcvdStream)
            RcvdStream->write(block.data(), static_cast<qint64>(block.size()));
        {
            // Counts this delivery until its handler returns or throws.
            struct TDepth {
                const QPointer<THttpCli>& client;
                explicit TDepth(const QPointer<THttpCli>& c) : client(c) {
                    ++client->deliveryDepth_;
                }
                ~TDepth() {
                    if (client)
                        --client->deliveryDepth_;
                }
            } depth(self);
            Raise(onDocData_, this, static_cast<const char*>(block.data()),
                  static_cast<int64_t>(block.size()));
        }
        if (!self)
            return;
        block.clear();
        if (!busy_ && deliveryDepth_ == 0)
            std::vector<char>().swap(delivering_);
        if (overtaken())
            return;
    }
    if (hop_.paused) {
        hop_.paused = false;
        // May call the write callback at once with what curl held back; that delivery is
        // queued like any other.
        curl_easy_pause(easy_, CURLPAUSE_CONT);
        return;
    }
    if (hop_.ended && received_.empty())
        HopEnded(hop_.result);
}

void THttpCli::HopEnded(CURLcode result) {
    DetachEasy();
    const bool bodyDropped = result == CURLE_OK || result == CURLE_WRITE_ERROR;
    if (hop_.relocating && hop_.headerDelivered && bodyDropped) {
        if (location_.isEmpty()) {
            reasonPhrase_ = QStringLiteral("Invalid relocation");
            Finish(ErrorBadRelocation);
            return;
        }
        if (++relocations_ > LocationChangeMaxCount) {
            reasonPhrase_ = QStringLiteral("Too many relocations");
            Finish(ErrorTooManyRelocations);
            return;
        }
        if (method_ == TMethod::Post && statusCode_ != 307 && statusCode_ != 308) {
            method_ = TMethod::Get;
            postBody_.clear();
        }
        URL = location_;
        ++generation_;
        const QPointer<THttpCli> self(this);
        const uint64_t generation = generation_;
        Raise(onLocationChange_, this);
        if (!self || generation_ != generation || !busy_)
            return;
        SendHop();
        return;
    }
    if (result != CURLE_OK && !hop_.headerComplete) {
        const QString detail =
            QString::fromUtf8(curlError_[0] ? curlError_ : curl_easy_strerror(result));
        if (IsConnectFailure(result)) {
            statusCode_ = ConnectFailedStatus;
            reasonPhrase_ = QStringLiteral("Connection failed: ") + detail;
        } else {
            reasonPhrase_ = QStringLiteral("Transfer failed: ") + detail;
        }
    } else if (result != CURLE_OK) {
        transportError_ =
            QStringLiteral("Transfer failed: ") +
            QString::fromUtf8(curlError_[0] ? curlError_ : curl_easy_strerror(result));
    }
    Finish(result == CURLE_OK ? 0 : static_cast<int>(result));
}

// An idle client keeps no buffers and no easy handle (its connection stays in the multi
// handle's cache), so thousands of finished range clients cost little.
void THttpCli::ReleaseTransfer() {
    if (easy_) {
        TCurlMulti::Instance().Remove(easy_);
        curl_easy_cleanup(easy_);
        easy_ = nullptr;
    }
    curl_slist_free_all(headers_);
    headers_ = nullptr;
    std::vector<char>().swap(received_);
    if (deliveryDepth_ == 0)
        std::vector<char>().swap(delivering_);
}

void THttpCli::DetachEasy() {
    if (easy_)
        TCurlMulti::Instance().Remove(easy_);
}

void THttpCli::Finish(int errorCode) {
    busy_ = false;
    ++generation_;
    hop_ = THop{};
    ReleaseTransfer();
    finishedRequestId_ = requestId_;
    lastErrorCode_ = errorCode;
    if (syncLoop_)
        syncLoop_->exit(SyncLoopFinished);
    Raise(onRequestDone_, this, errorCode);
}

void THttpCli::Synchronous(TMethod method) {
    StartRequest(method);
    transportError_.clear();
    const uint64_t request = requestId_;
    const QPointer<THttpCli> self(this);
    while (self && finishedRequestId_ < request) {
        QEventLoop loop;
        syncLoop_ = &loop;
        QTimer::singleShot(SyncWaitSliceMs, &loop, [&loop] { loop.exit(SyncLoopSlice); });
        const int exitCode = loop.exec();
        if (!self)
            break;
        syncLoop_ = nullptr;
        const bool shuttingDown = QCoreApplication::closingDown() ||
                                  (exitCode != SyncLoopFinished && exitCode != SyncLoopSlice);
        if (shuttingDown && finishedRequestId_ < request) {
            if (requestId_ == request)
                Abort();
            ::Abort();
        }
    }
    if (!self)
        ::Abort();
    if (finishedRequestId_ != request) // a handler started another request meanwhile
        return;
    if (lastErrorCode_ == ErrorAborted)
        ::Abort();
    if (statusCode_ > 399 && statusCode_ != 401 && statusCode_ != 407)
        throw EHttpException(reasonPhrase_, statusCode_);
    if (lastErrorCode_ != 0)
        throw EHttpException(transportError_.isEmpty() ? reasonPhrase_ : transportError_, 0);
}

namespace {

QByteArray RequestInMemory(THttpCli& http, const QByteArray* body) {
    QByteArray sent = body ? *body : QByteArray();
    QBuffer send(&sent);
    send.open(QIODevice::ReadOnly);
    QBuffer received;
    received.open(QIODevice::WriteOnly);
    http.SendStream = body ? &send : nullptr;
    http.RcvdStream = &received;
    const auto detach = qScopeGuard([&http] {
        http.SendStream = nullptr;
        http.RcvdStream = nullptr;
    });
    if (body)
        http.Post();
    else
        http.Get();
    return received.data();
}

} // namespace

QByteArray GetToMemory(THttpCli& http) {
    return RequestInMemory(http, nullptr);
}

QByteArray PostFromMemory(THttpCli& http, const QByteArray& body) {
    return RequestInMemory(http, &body);
}
