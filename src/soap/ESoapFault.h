#pragma once

#include "core/Errors.h"

#include <QString>

// A SOAP fault: raised by the reader when the answer is a fault, and by the server's handlers
// to answer with one. Its message is the fault string as the peer wrote it.
class ESoapFault : public Exception {
public:
    // `code` is the local part of the faultcode: "Client" (the request is at fault) or "Server".
    ESoapFault(QString code, const QString& faultString)
        : Exception(faultString), code_(std::move(code)) {}

    const QString& FaultCode() const noexcept { return code_; }
    const QString& FaultString() const noexcept { return Message(); }

    static ESoapFault Client(const QString& text) { return {QStringLiteral("Client"), text}; }
    static ESoapFault Server(const QString& text) { return {QStringLiteral("Server"), text}; }

private:
    QString code_;
};
