#include "soap/TSoapWriter.h"

#include "soap/ESoapFault.h"
#include "soap/SoapNamespaces.h"

#include <QBuffer>
#include <QXmlStreamWriter>

namespace {

const QString EnvPrefix = QStringLiteral("SOAP-ENV");
const QString EncPrefix = QStringLiteral("SOAP-ENC");
const QString InterfacePrefix = QStringLiteral("ns1");

// XML 1.0 cannot carry most control characters, not even as references; they become U+FFFD.
// Carriage returns are written as references, so that a reader's line-end normalisation keeps
// them.
void WriteText(QXmlStreamWriter& xml, QBuffer& out, const QString& text) {
    QString clean;
    bool hasCarriageReturn = false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\r')
            hasCarriageReturn = true;
        if ((u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || u == 0xFFFE || u == 0xFFFF)
            clean += QChar(0xFFFD);
        else
            clean += c;
    }
    if (!hasCarriageReturn) {
        xml.writeCharacters(clean);
        return;
    }
    const QStringList parts = clean.split(QLatin1Char('\r'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            xml.writeCharacters(QString()); // closes a pending start tag
            out.write("&#13;");
        }
        xml.writeCharacters(parts[i]);
    }
}

const char* XsdTypeOf(TSoapType type) {
    switch (type) {
    case TSoapType::Long:
        return "xsd:long";
    case TSoapType::Boolean:
        return "xsd:boolean";
    default:
        return "xsd:string";
    }
}

void WriteValue(QXmlStreamWriter& xml, QBuffer& out, const QString& name, const TSoapValue& value) {
    xml.writeStartElement(name);
    switch (value.Type) {
    case TSoapType::Long:
        xml.writeAttribute(soap::XsiNamespace, QStringLiteral("type"), XsdTypeOf(value.Type));
        xml.writeCharacters(QString::number(value.Number));
        break;
    case TSoapType::Boolean:
        xml.writeAttribute(soap::XsiNamespace, QStringLiteral("type"), XsdTypeOf(value.Type));
        xml.writeCharacters(value.Flag ? QStringLiteral("true") : QStringLiteral("false"));
        break;
    case TSoapType::String:
        xml.writeAttribute(soap::XsiNamespace, QStringLiteral("type"), XsdTypeOf(value.Type));
        WriteText(xml, out, value.Text);
        break;
    case TSoapType::StringArray:
        xml.writeAttribute(soap::XsiNamespace, QStringLiteral("type"),
                           EncPrefix + QStringLiteral(":Array"));
        xml.writeAttribute(soap::EncodingNamespace, QStringLiteral("arrayType"),
                           QStringLiteral("xsd:string[%1]").arg(value.Items.size()));
        for (const QString& item : value.Items) {
            xml.writeStartElement(QStringLiteral("item"));
            xml.writeAttribute(soap::XsiNamespace, QStringLiteral("type"),
                               QStringLiteral("xsd:string"));
            WriteText(xml, out, item);
            xml.writeEndElement();
        }
        break;
    }
    xml.writeEndElement();
}

// Opens the envelope and its Body; `interfaceNamespace` may be empty (a fault).
void StartEnvelope(QXmlStreamWriter& xml, const QString& interfaceNamespace) {
    xml.writeStartDocument();
    xml.writeNamespace(soap::EnvelopeNamespace, EnvPrefix);
    xml.writeNamespace(soap::EncodingNamespace, EncPrefix);
    xml.writeNamespace(soap::XsdNamespace, QStringLiteral("xsd"));
    xml.writeNamespace(soap::XsiNamespace, QStringLiteral("xsi"));
    if (!interfaceNamespace.isEmpty())
        xml.writeNamespace(interfaceNamespace, InterfacePrefix);
    xml.writeStartElement(soap::EnvelopeNamespace, QStringLiteral("Envelope"));
    xml.writeAttribute(soap::EnvelopeNamespace, QStringLiteral("encodingStyle"),
                       soap::EncodingNamespace);
    xml.writeStartElement(soap::EnvelopeNamespace, QStringLiteral("Body"));
}

void EndEnvelope(QXmlStreamWriter& xml) {
    xml.writeEndElement(); // Body
    xml.writeEndElement(); // Envelope
    xml.writeEndDocument();
}

} // namespace

QByteArray TSoapWriter::Request(const QString& interfaceNamespace, const QString& operation,
                                const TSoapParameters& parameters) {
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    QXmlStreamWriter xml(&out);
    StartEnvelope(xml, interfaceNamespace);
    xml.writeStartElement(interfaceNamespace, operation);
    for (const TSoapParameter& parameter : parameters)
        WriteValue(xml, out, parameter.Name, parameter.Value);
    xml.writeEndElement();
    EndEnvelope(xml);
    return bytes;
}

QByteArray TSoapWriter::Response(const QString& interfaceNamespace, const QString& operation,
                                 const TSoapValue& result) {
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    QXmlStreamWriter xml(&out);
    StartEnvelope(xml, interfaceNamespace);
    xml.writeStartElement(interfaceNamespace, operation + QStringLiteral("Response"));
    WriteValue(xml, out, QStringLiteral("return"), result);
    xml.writeEndElement();
    EndEnvelope(xml);
    return bytes;
}

QByteArray TSoapWriter::Fault(const ESoapFault& fault) {
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    QXmlStreamWriter xml(&out);
    StartEnvelope(xml, QString());
    xml.writeStartElement(soap::EnvelopeNamespace, QStringLiteral("Fault"));
    xml.writeTextElement(QStringLiteral("faultcode"), EnvPrefix + u':' + fault.FaultCode());
    xml.writeStartElement(QStringLiteral("faultstring"));
    WriteText(xml, out, fault.FaultString());
    xml.writeEndElement();
    xml.writeEndElement();
    EndEnvelope(xml);
    return bytes;
}
