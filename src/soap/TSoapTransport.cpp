#include "soap/TSoapTransport.h"

#include "core/Errors.h"

#include <QList>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace {

struct TTransfer {
    QByteArray body;
    QString reason;
    bool tooLarge = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) noexcept {
    auto* transfer = static_cast<TTransfer*>(user);
    const size_t bytes = size * count;
    if (transfer->body.size() + static_cast<qsizetype>(bytes) > TSoapTransport::MaxAnswerBytes) {
        transfer->tooLarge = true;
        return 0;
    }
    transfer->body.append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

// Keeps the reason phrase of the last status line ("HTTP/1.1 404 Not Found").
size_t ReadHeader(char* data, size_t size, size_t count, void* user) noexcept {
    auto* transfer = static_cast<TTransfer*>(user);
    const size_t bytes = size * count;
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(bytes)).trimmed();
    if (line.startsWith("HTTP/")) {
        const QList<QByteArray> parts = line.split(' ');
        transfer->reason = QString::fromLatin1(parts.mid(2).join(' '));
    }
    return bytes;
}

struct TCurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct TSlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

TSoapHttpAnswer Perform(const QString& url, const QString* soapAction, const QByteArray* body) {
    static std::once_flag curlInitialised;
    std::call_once(curlInitialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    std::unique_ptr<CURL, TCurlDeleter> curl(curl_easy_init());
    if (!curl)
        throw Exception(QStringLiteral("Could not start an HTTP request"));
    std::unique_ptr<curl_slist, TSlistDeleter> headers;
    const auto addHeader = [&](const QByteArray& header) {
        curl_slist* list = curl_slist_append(headers.get(), header.constData());
        if (list == nullptr)
            throw Exception(QStringLiteral("Could not start an HTTP request"));
        (void)headers.release();
        headers.reset(list);
    };
    if (soapAction != nullptr) {
        addHeader("Content-Type: text/xml; charset=utf-8");
        addHeader("SOAPAction: \"" + soapAction->toUtf8() + "\"");
        addHeader("Expect:");
    }

    const QByteArray address = url.toUtf8();
    TTransfer transfer;
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, address.constData());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    if (body != nullptr) {
        curl_easy_setopt(handle, CURLOPT_POST, 1L);
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body->constData());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(body->size()));
    }
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "tavilon SOAP client");
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, TSoapTransport::ConnectTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, TSoapTransport::CallTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, ReadHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);

    const CURLcode result = curl_easy_perform(handle);
    if (transfer.tooLarge)
        throw Exception(QStringLiteral("The answer from %1 is larger than %2 bytes")
                            .arg(url)
                            .arg(TSoapTransport::MaxAnswerBytes));
    if (result != CURLE_OK) {
        const QString detail = errorText[0] != '\0' ? QString::fromUtf8(errorText)
                                                    : QString::fromUtf8(curl_easy_strerror(result));
        throw Exception(QStringLiteral("Could not reach %1: %2").arg(url, detail));
    }
    TSoapHttpAnswer answer;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer.Status);
    answer.Reason = transfer.reason;
    answer.Body = std::move(transfer.body);
    return answer;
}

} // namespace

TSoapHttpAnswer TSoapTransport::Post(const QString& url, const QString& soapAction,
                                     const QByteArray& body) {
    return Perform(url, &soapAction, &body);
}

TSoapHttpAnswer TSoapTransport::Get(const QString& url) {
    return Perform(url, nullptr, nullptr);
}
