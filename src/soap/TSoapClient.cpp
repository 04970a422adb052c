#include "soap/TSoapClient.h"

#include "core/Errors.h"
#include "soap/ESoapFault.h"
#include "soap/TSoapMessage.h"
#include "soap/TSoapTransport.h"
#include "soap/TSoapWriter.h"

QString TSoapClient::SoapActionOf(const QString& operation) const {
    QString action = SoapActionTemplate;
    action.replace(QStringLiteral("%operationName%"), operation);
    return action;
}

TSoapValue TSoapClient::Invoke(const QString& operation, const TSoapParameters& parameters,
                               TSoapType resultType) const {
    const QByteArray request = TSoapWriter::Request(Namespace, operation, parameters);
    const TSoapHttpAnswer answer = TSoapTransport::Post(URL, SoapActionOf(operation), request);
    const auto httpError = [&] {
        return Exception(QStringLiteral("The server at %1 answered %2 %3")
                             .arg(URL)
                             .arg(answer.Status)
                             .arg(answer.Reason)
                             .trimmed());
    };

    TSoapMessage message;
    try {
        message = TSoapMessage::Parse(answer.Body);
    } catch (const ESoapFault& notSoap) {
        if (answer.Status != 200)
            throw httpError();
        throw Exception(QStringLiteral("The answer from %1 is not a SOAP message (%2)")
                            .arg(URL, notSoap.Message()));
    }
    message.ThrowIfFault();
    if (answer.Status != 200)
        throw httpError();

    const TSoapNode& response = message.BodyElement();
    if (response.Name != operation + QStringLiteral("Response"))
        throw Exception(QStringLiteral("The answer from %1 is \"%2\", not the answer of %3")
                            .arg(URL, response.Name, operation));
    try {
        if (response.Children.empty()) {
            if (resultType == TSoapType::StringArray)
                return TSoapValue::StringArray({});
            throw Exception(
                QStringLiteral("The answer of %1 from %2 carries no value").arg(operation, URL));
        }
        return message.Decode(response.Children.front(), resultType,
                              QStringLiteral("result of ") + operation);
    } catch (const ESoapFault& badValue) {
        // The peer is at fault here, not the caller: report it as a plain error.
        throw Exception(
            QStringLiteral("The answer from %1 is not usable: %2").arg(URL, badValue.Message()));
    }
}
