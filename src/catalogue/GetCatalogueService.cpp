#include "catalogue/GetCatalogueService.h"

#include "catalogue/CatalogueInterface.h"
#include "catalogue/TtavilonPortTypeClient.h"
#include "core/Endpoints.h"
#include "platform/OptionDefaults.h"
#include "soap/TSoapClient.h"
#include "soap/TSoapWsdl.h"

_di_tavilonPortType GettavilonPortType(bool useWSDL, const QString& address,
                                       std::shared_ptr<TSoapClient> client) {
    QString target = address;
    if (target.isEmpty())
        target = useWSDL ? BuiltInCatalogueEndpoint() + QStringLiteral("?wsdl")
                         : BuiltInCatalogueEndpoint();
    if (!client)
        client = std::make_shared<TSoapClient>();
    const TCatalogueInterface& interface = CatalogueInterface();
    client->Namespace = interface.Namespace;
    client->SoapActionTemplate = interface.SoapActionTemplate;
    if (useWSDL)
        client->URL = TSoapWsdl::Load(target).EndpointOf(QStringLiteral("tavilon"),
                                                         QStringLiteral("tavilonPort"));
    else
        client->URL = target;
    return std::make_shared<TtavilonPortTypeClient>(std::move(client));
}

_di_tavilonPortType GetCatalogueService() {
    return GettavilonPortType(false,
                              GetOptionString(ServerSection, QStringLiteral("DefaultServer")));
}
