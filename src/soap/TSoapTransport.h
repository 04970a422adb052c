#pragma once

#include <QByteArray>
#include <QString>

// What the server answered to one POST.
struct TSoapHttpAnswer {
    long Status = 0;
    QString Reason; // the reason phrase of the status line
    QByteArray Body;
};

// The blocking HTTP transport of SOAP calls: one libcurl easy transfer per call, on the
// calling thread, without any event dispatching while it waits.
class TSoapTransport {
public:
    // Longest wait for the connection to be made.
    static constexpr long ConnectTimeoutSeconds = 15;
    // Longest a whole call may take.
    static constexpr long CallTimeoutSeconds = 120;
    // Largest answer body accepted; a longer one fails the call.
    static constexpr qsizetype MaxAnswerBytes = 16 * 1024 * 1024;

    // POSTs `body` as text/xml with the SOAPAction header to `url` (http or https only).
    // Raises Exception with a readable text when no HTTP answer arrives.
    static TSoapHttpAnswer Post(const QString& url, const QString& soapAction,
                                const QByteArray& body);
    // GETs `url` (http or https only), following no relocation.
    static TSoapHttpAnswer Get(const QString& url);
};
