#pragma once

#include <QString>

// The XML namespaces of SOAP 1.1 section-5 encoding.
namespace soap {

inline const QString EnvelopeNamespace =
    QStringLiteral("http://schemas.xmlsoap.org/soap/envelope/");
inline const QString EncodingNamespace =
    QStringLiteral("http://schemas.xmlsoap.org/soap/encoding/");
inline const QString XsdNamespace = QStringLiteral("http://www.w3.org/2001/XMLSchema");
inline const QString XsiNamespace = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");
// Older stacks still write the 1999 schema namespaces.
inline const QString Xsd1999Namespace = QStringLiteral("http://www.w3.org/1999/XMLSchema");
inline const QString Xsi1999Namespace = QStringLiteral("http://www.w3.org/1999/XMLSchema-instance");

} // namespace soap
