#include "soap/TSoapWsdl.h"

#include "core/Errors.h"
#include "soap/TSoapTransport.h"

#include <QXmlStreamReader>

namespace {

const QString WsdlNamespace = QStringLiteral("http://schemas.xmlsoap.org/wsdl/");
const QString WsdlSoapNamespace = QStringLiteral("http://schemas.xmlsoap.org/wsdl/soap/");

} // namespace

TSoapWsdl TSoapWsdl::Load(const QString& url) {
    const TSoapHttpAnswer answer = TSoapTransport::Get(url);
    if (answer.Status != 200)
        throw Exception(QStringLiteral("The service description at %1 could not be read: %2 %3")
                            .arg(url)
                            .arg(answer.Status)
                            .arg(answer.Reason));
    return Parse(answer.Body, url);
}

TSoapWsdl TSoapWsdl::Parse(const QByteArray& xml, const QString& origin) {
    TSoapWsdl wsdl;
    wsdl.xml_ = xml;
    wsdl.origin_ = origin;
    return wsdl;
}

QString TSoapWsdl::EndpointOf(const QString& service, const QString& port) const {
    QXmlStreamReader xml(xml_);
    bool inService = false;
    bool inPort = false;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference)
            break;
        if (token == QXmlStreamReader::StartElement) {
            const QString name = xml.attributes().value(QStringLiteral("name")).toString();
            if (xml.namespaceUri() == WsdlNamespace && xml.name() == u"service")
                inService = name == service;
            else if (inService && xml.namespaceUri() == WsdlNamespace && xml.name() == u"port")
                inPort = name == port;
            else if (inPort && xml.namespaceUri() == WsdlSoapNamespace && xml.name() == u"address")
                return xml.attributes().value(QStringLiteral("location")).toString();
        } else if (token == QXmlStreamReader::EndElement) {
            if (xml.namespaceUri() == WsdlNamespace && xml.name() == u"service")
                inService = false;
            else if (xml.namespaceUri() == WsdlNamespace && xml.name() == u"port")
                inPort = false;
        }
    }
    throw Exception(QStringLiteral("The service description at %1 has no port \"%2\" of service "
                                   "\"%3\"")
                        .arg(origin_, port, service));
}
