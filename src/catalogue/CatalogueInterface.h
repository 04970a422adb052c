#pragma once

#include <QString>

// The registration of the catalogue interface, fixed once when the program starts (before the
// application object) and read by every catalogue call afterwards.
struct TCatalogueInterface {
    // The XML namespace of the operations.
    QString Namespace;
    // The interface's declared character encoding. The envelopes themselves are written in
    // UTF-8 and say so; the server reads what the declaration of the text says.
    QString Encoding;
    // The SOAPAction template: the built-in endpoint, "/" and "%operationName%".
    QString SoapActionTemplate;
    // The schema type of string arrays and its namespace.
    QString ArrayOfstringName;
    QString ArrayOfstringNamespace;

    // The name under which a parameter travels ("type" for `type_`).
    QString ExternalParameterName(const QString& name) const;
};

// Fixes the registration from the built-in catalogue endpoint. A second call changes nothing.
void RegisterCatalogueInterface();

// The registration; made on first use when RegisterCatalogueInterface has not run.
const TCatalogueInterface& CatalogueInterface();
