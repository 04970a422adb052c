#pragma once

#include "catalogue/tavilonPortType.h"

#include <QString>
#include <memory>

class TSoapClient;

// The port type at `address` (the built-in endpoint when empty) over `client`, or over a new
// SOAP client object when none is given. In WSDL mode the address is that of the service
// description (the built-in endpoint with "?wsdl" when empty); the endpoint is read from its
// service "tavilon", port "tavilonPort".
_di_tavilonPortType GettavilonPortType(bool useWSDL = false, const QString& address = QString(),
                                       std::shared_ptr<TSoapClient> client = nullptr);

// The port type at the current "DefaultServer" of the section "Server": a new client object for
// each call, so that a change of the setting applies from the next call on.
_di_tavilonPortType GetCatalogueService();
