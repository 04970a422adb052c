#pragma once

#include "core/Errors.h"
#include "net/CurlMulti.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

class QEventLoop;
class QIODevice;

// The error of a synchronous request whose final answer has a status above 399 (other than 401
// and 407), or that could not be completed. Message() is the reason text, ErrorCode the status
// (404 for a failed connection or name lookup, 0 for other transport failures).
class EHttpException : public Exception {
public:
    EHttpException(const QString& reason, int errorCode)
        : Exception(reason), ErrorCode(errorCode) {}
    int ErrorCode;
};

enum class THttpAuth { None, Basic, Digest, Ntlm };

// An asynchronous HTTP/1.x client on libcurl, with synchronous GET and POST that keep the event
// loop running. Every event is raised on the GUI thread, outside curl, so a handler may start,
// abort or destroy any client, this one included, and may run nested event loops.
//
// Relocations (301, 302, 303, 307, 308 with a Location) are followed here, hop by hop: each hop
// raises OnHeaderEnd; OnLocationChange is raised just before the next hop is sent, after URL has
// become the new location, so a handler may change ContentRangeBegin/End for it. At most
// LocationChangeMaxCount hops in a row; one more ends the request with ErrorTooManyRelocations.
// Only the body of the final answer is delivered through OnDocData (and into RcvdStream).
//
// An error a handler raises is reported (ReportException) and ends only that handler; the
// request goes on.
//
// Error codes of OnRequestDone: 0 for none, a CURLcode for a transport failure, or one of the
// codes below.
class THttpCli : public QObject, private ICurlTransfer {
    Q_OBJECT

public:
    // The request was ended by Abort.
    static constexpr int ErrorAborted = 1001;
    // More than LocationChangeMaxCount relocations in a row.
    static constexpr int ErrorTooManyRelocations = 1002;
    // A relocation without a usable Location.
    static constexpr int ErrorBadRelocation = 1003;

    // The status reported for a failed connection or name lookup, with a reason of our own.
    static constexpr int ConnectFailedStatus = 404;

    using TNotifyEvent = std::function<void(THttpCli* sender)>;
    using TDocDataEvent = std::function<void(THttpCli* sender, const char* buffer, int64_t len)>;
    using TRequestDoneEvent = std::function<void(THttpCli* sender, int errorCode)>;
    using TCookieEvent = std::function<void(THttpCli* sender, const QString& data, bool& accept)>;

    explicit THttpCli(QObject* owner = nullptr);
    ~THttpCli() override;

    // Settings, read when a request starts (and again at every relocation hop).
    QString URL;
    QString Accept = QStringLiteral("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    QString Agent = QStringLiteral("Mozilla/4.0 (compatible; ICS)");
    // "1.0" or "1.1".
    QString RequestVer = QStringLiteral("1.0");
    QString ContentTypePost = QStringLiteral("application/x-www-form-urlencoded");
    // Text of a Cookie header to send; none when empty.
    QString Cookie;
    QString Username;
    QString Password;
    QString Proxy;
    QString ProxyPort = QStringLiteral("80");
    QString SocksServer;
    QString SocksPort;
    // "5", "4" or "4A".
    QString SocksLevel = QStringLiteral("5");
    THttpAuth ServerAuth = THttpAuth::None;
    THttpAuth ProxyAuth = THttpAuth::None;
    QString LocalAddr = QStringLiteral("0.0.0.0");
    // When either is non-empty the request carries "Range: bytes=<begin>-<end>".
    QString ContentRangeBegin;
    QString ContentRangeEnd;
    bool FollowRelocation = true;
    int LocationChangeMaxCount = 5;
    // Supplies the body of a POST, read from its start; not owned.
    QIODevice* SendStream = nullptr;
    // Receives the body of the final answer (synchronous and asynchronous); not owned.
    QIODevice* RcvdStream = nullptr;

    // Synchronous requests: return when the answer is complete, serving the event loop
    // meanwhile. Raise EHttpException for a final status above 399 other than 401 and 407, for
    // a failed connection (status 404) and for other transport failures; EAbort when the request
    // was aborted or the application is shutting down; "HTTP client busy" when a request is
    // already open on this client.
    void Get();
    void Post();
    // Asynchronous requests: start and return at once; the events report the rest. Get sets
    // Started.
    virtual void GetASync();
    void PostASync();
    // Ends the open request and raises OnRequestDone (ErrorAborted); with no request open it
    // raises OnRequestDone with 0.
    void Abort();

    // True from the start of a request until just before its OnRequestDone.
    bool Busy() const { return busy_; }
    // Set by every asynchronous GET started on this client; never cleared.
    bool Started() const { return started_; }

    // Results of the last answer header (of the current hop while relocations are followed).
    int StatusCode() const { return statusCode_; }
    const QString& ReasonPhrase() const { return reasonPhrase_; }
    // From Content-Length; -1 when the answer has none.
    int64_t ContentLength() const { return contentLength_; }
    // The Location of a relocation answer, resolved against the request's URL.
    const QString& Location() const { return location_; }
    // The header lines of the last answer, status line first.
    const QStringList& RcvdHeader() const { return rcvdHeader_; }
    // The last path segment of the request's URL without its query; "document.htm" when empty.
    QString DocName() const;
    // Bytes of the final answer's body delivered so far.
    int64_t RcvdCount() const { return rcvdCount_; }

    void SetOnHeaderEnd(TNotifyEvent handler) { onHeaderEnd_ = std::move(handler); }
    void SetOnLocationChange(TNotifyEvent handler) { onLocationChange_ = std::move(handler); }
    // The buffer of OnDocData is valid until the handler returns (or destroys the client).
    void SetOnDocData(TDocDataEvent handler) { onDocData_ = std::move(handler); }
    void SetOnRequestDone(TRequestDoneEvent handler) { onRequestDone_ = std::move(handler); }
    void SetOnCookie(TCookieEvent handler) { onCookie_ = std::move(handler); }

protected:
    void MarkStarted() { started_ = true; }

private:
    enum class TMethod { Get, Post };

    // What the curl callbacks of the current hop recorded, delivered after curl returns.
    struct THop {
        QList<QByteArray> headerLines;
        qsizetype headerBytes = 0;
        bool headerComplete = false;
        bool headerDelivered = false;
        bool relocating = false;
        int64_t discarded = 0;
        // The write callback paused the transfer: the body waits in curl until delivered.
        bool paused = false;
        bool ended = false;
        CURLcode result = CURLE_OK;
    };

    static size_t HeaderCallback(char* buffer, size_t size, size_t count, void* userp);
    static size_t WriteCallback(char* buffer, size_t size, size_t count, void* userp);

    void StartRequest(TMethod method);
    void SendHop();
    void ParseHeader();
    void RequestPending();
    void CurlDeliver() override;
    void CurlTransferEnded(CURL* easy, CURLcode result) override;
    void HopEnded(CURLcode result);
    void Finish(int errorCode);
    void DetachEasy();
    void ReleaseTransfer();
    void Synchronous(TMethod method);

    CURL* easy_ = nullptr;
    curl_slist* headers_ = nullptr;
    QByteArray postBody_;
    TMethod method_ = TMethod::Get;
    bool busy_ = false;
    bool started_ = false;
    bool deliveryQueued_ = false;
    // Changes with every hop and every end of a request, so a delivery that a handler
    // overtook stops.
    uint64_t generation_ = 0;
    int relocations_ = 0;
    // Numbers requests, so a synchronous wait knows when its own one has ended.
    uint64_t requestId_ = 0;
    uint64_t finishedRequestId_ = 0;
    int lastErrorCode_ = 0;
    QEventLoop* syncLoop_ = nullptr;
    QString transportError_;
    THop hop_;
    // Body bytes recorded by the write callback and not delivered yet; and the buffer of the
    // delivery in progress. Both keep their capacity, so a transfer reuses two buffers.
    std::vector<char> received_;
    std::vector<char> delivering_;
    int deliveryDepth_ = 0;
    QByteArray requestUrl_;
    char curlError_[CURL_ERROR_SIZE] = {};

    int statusCode_ = 0;
    QString reasonPhrase_;
    int64_t contentLength_ = -1;
    QString location_;
    QStringList rcvdHeader_;
    int64_t rcvdCount_ = 0;
    QStringList cookies_;

    TNotifyEvent onHeaderEnd_;
    TNotifyEvent onLocationChange_;
    TDocDataEvent onDocData_;
    TRequestDoneEvent onRequestDone_;
    TCookieEvent onCookie_;
};

// A synchronous request whose bodies live in memory: the answer's body is returned, and the
// client's streams are detached however the request ends. Errors are those of Get and Post.
QByteArray GetToMemory(THttpCli& http);
QByteArray PostFromMemory(THttpCli& http, const QByteArray& body);
