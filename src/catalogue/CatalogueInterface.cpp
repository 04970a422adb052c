#include "catalogue/CatalogueInterface.h"

#include "catalogue/CatalogueNamespaces.h"
#include "core/Endpoints.h"

#include <mutex>

namespace {

TCatalogueInterface registration;
std::once_flag registered;

} // namespace

QString TCatalogueInterface::ExternalParameterName(const QString& name) const {
    if (name == u"type_")
        return QStringLiteral("type");
    return name;
}

void RegisterCatalogueInterface() {
    std::call_once(registered, [] {
        registration.Namespace = catalogue::InterfaceNamespace;
        registration.Encoding = QStringLiteral("ISO-8859-1");
        registration.SoapActionTemplate =
            BuiltInCatalogueEndpoint() + QStringLiteral("/%operationName%");
        registration.ArrayOfstringName = QStringLiteral("ArrayOfstring");
        registration.ArrayOfstringNamespace = catalogue::ArrayOfstringNamespace;
    });
}

const TCatalogueInterface& CatalogueInterface() {
    RegisterCatalogueInterface();
    return registration;
}
