#pragma once

#include <QString>

// The names both ends of the catalogue interface agree on.
namespace catalogue {

// The XML namespace of the interface's operations.
inline const QString InterfaceNamespace = QStringLiteral("urn:tavilon");
// The namespace of the schema type "ArrayOfstring" (a fixed text on the product's web host).
inline const QString ArrayOfstringNamespace = QStringLiteral("http://127.0.0.1:8180/soap/tavilon");
// The path of the endpoint on the catalogue server.
inline const QString EndpointPath = QStringLiteral("/tavilonserver.php");

} // namespace catalogue
