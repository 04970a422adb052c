#include "soap/ESoapFault.h"
#include "soap/TSoapMessage.h"
#include "soap/TSoapWriter.h"

#include <gtest/gtest.h>

namespace {

const QString Namespace = QStringLiteral("urn:tavilon");

QByteArray Envelope(const char* body, const char* extraNamespaces = "") {
    return QByteArray("<?xml version=\"1.0\"?><soap:Envelope "
                      "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                      "xmlns:enc=\"http://schemas.xmlsoap.org/soap/encoding/\" "
                      "xmlns:s=\"http://www.w3.org/2001/XMLSchema\" "
                      "xmlns:i=\"http://www.w3.org/2001/XMLSchema-instance\" ") +
           extraNamespaces + "><soap:Body>" + body + "</soap:Body></soap:Envelope>";
}

QString FaultText(const QByteArray& xml) {
    try {
        TSoapMessage::Parse(xml);
    } catch (const ESoapFault& fault) {
        EXPECT_EQ(fault.FaultCode(), QStringLiteral("Client"));
        return fault.Message();
    }
    return QStringLiteral("(no fault)");
}

TEST(SoapEnvelope, RequestsReadBackWithEveryValueIntact) {
    const QString awkward = QStringLiteral("  lead <&> \"q\" 'a' \t tab\r\nCRLF\rCR é€ 𝄞  ");
    const QStringList items = {QString(), awkward, QStringLiteral("http://fh/?d=A&x=1")};
    const QByteArray xml = TSoapWriter::Request(
        Namespace, QStringLiteral("getvideos"),
        {{QStringLiteral("start"), TSoapValue::Long(-9223372036854775807LL - 1)},
         {QStringLiteral("search"), TSoapValue::String(awkward)},
         {QStringLiteral("flag"), TSoapValue::Boolean(true)},
         {QStringLiteral("links"), TSoapValue::StringArray(items)}});
    EXPECT_TRUE(xml.contains("xsi:type=\"xsd:long\""));
    EXPECT_TRUE(xml.contains("SOAP-ENC:arrayType=\"xsd:string[3]\""));

    const TSoapMessage message = TSoapMessage::Parse(xml);
    const TSoapNode& operation = message.BodyElement();
    EXPECT_EQ(operation.NamespaceUri, Namespace);
    EXPECT_EQ(operation.Name, QStringLiteral("getvideos"));
    ASSERT_EQ(operation.Children.size(), 4u);
    EXPECT_EQ(message.Decode(operation.Children[0], TSoapType::Long, "start").Number,
              -9223372036854775807LL - 1);
    EXPECT_EQ(message.Decode(operation.Children[1], TSoapType::String, "search").Text, awkward);
    EXPECT_TRUE(message.Decode(operation.Children[2], TSoapType::Boolean, "flag").Flag);
    EXPECT_EQ(message.Decode(operation.Children[3], TSoapType::StringArray, "links").Items, items);
}

TEST(SoapEnvelope, ControlCharactersXmlCannotCarryBecomeReplacementCharacters) {
    const QByteArray xml = TSoapWriter::Response(Namespace, QStringLiteral("registervideo"),
                                                 TSoapValue::String(QStringLiteral("a\x01"
                                                                                   "b")));
    const TSoapMessage message = TSoapMessage::Parse(xml);
    EXPECT_EQ(message.BodyElement().Name, QStringLiteral("registervideoResponse"));
    EXPECT_EQ(message.Decode(message.BodyElement().Children.at(0), TSoapType::String, "r").Text,
              QStringLiteral("a\uFFFDb"));
}

TEST(SoapEnvelope, ReadsOtherStacksForms) {
    // Multi-reference encoding, untyped items under an arrayType, a named array type, nil and
    // prefixes other than ours.
    const QByteArray xml =
        Envelope("<ns:getvideosResponse xmlns:ns=\"urn:tavilon\"><return "
                 "href=\"#id0\"/></ns:getvideosResponse>"
                 "<multiRef id=\"id0\" i:type=\"t:ArrayOfstring\" enc:arrayType=\"s:string[3]\">"
                 "<item>5</item><item href=\"#id1\"/><item i:nil=\"true\"/></multiRef>"
                 "<multiRef id=\"id1\" i:type=\"s:string\">Title@@@1@@@2@@@</multiRef>",
                 "xmlns:t=\"http://127.0.0.1:8180/soap/tavilon\"");
    const TSoapMessage message = TSoapMessage::Parse(xml);
    EXPECT_EQ(
        message.Decode(message.BodyElement().Children.at(0), TSoapType::StringArray, "r").Items,
        QStringList({QStringLiteral("5"), QStringLiteral("Title@@@1@@@2@@@"), QString()}));

    const TSoapMessage ints = TSoapMessage::Parse(
        Envelope("<m:op xmlns:m=\"urn:tavilon\"><a i:type=\"s:int\"> 42 </a></m:op>"));
    EXPECT_EQ(ints.Decode(ints.BodyElement().Children.at(0), TSoapType::Long, "a").Number, 42);
}

TEST(SoapEnvelope, FaultsCarryTheirString) {
    const QByteArray xml = TSoapWriter::Fault(ESoapFault::Server(QStringLiteral("Gone <fishing>")));
    try {
        TSoapMessage::Parse(xml).ThrowIfFault();
        ADD_FAILURE() << "no fault";
    } catch (const ESoapFault& fault) {
        EXPECT_EQ(fault.FaultCode(), QStringLiteral("Server"));
        EXPECT_EQ(fault.FaultString(), QStringLiteral("Gone <fishing>"));
    }
}

TEST(SoapEnvelope, RefusesWhatIsNotAPlainSoapEnvelope) {
    QByteArray deep = "<m:op xmlns:m=\"urn:x\">";
    for (int i = 0; i < 40; ++i)
        deep += "<a>";
    const struct {
        const char* name;
        QByteArray xml;
        const char* fault;
    } cases[] = {
        {"empty", "", "Malformed SOAP message"},
        {"unclosed", "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">",
         "Malformed SOAP message"},
        {"SOAP 1.2", "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"/>",
         "not a SOAP 1.1 Envelope"},
        {"no body", Envelope("").replace("<soap:Body></soap:Body>", ""), "Body is missing"},
        {"internal entities",
         "<!DOCTYPE x [<!ENTITY a \"aaaa\">]>" + Envelope("<m:op xmlns:m=\"urn:x\">&a;</m:op>"),
         "document type declarations"},
        {"undeclared entity", Envelope("<m:op xmlns:m=\"urn:x\">&nope;</m:op>"),
         "Malformed SOAP message"},
        {"too deep", Envelope(deep.constData()), "nested deeper than 32"},
        {"undeclared type prefix",
         Envelope("<m:op xmlns:m=\"urn:x\"><a i:type=\"q:int\">1</a></m:op>"), "undeclared prefix"},
        {"remote reference", Envelope("<m:op xmlns:m=\"urn:x\"><a href=\"http://x/#1\"/></m:op>"),
         "only local references"},
    };
    for (const auto& badCase : cases) {
        const std::string text = FaultText(badCase.xml).toStdString();
        EXPECT_NE(text.find(badCase.fault), std::string::npos) << badCase.name << ": " << text;
    }

    const TSoapMessage looping = TSoapMessage::Parse(
        Envelope("<m:op xmlns:m=\"urn:x\"><a href=\"#r\"/></m:op><v id=\"r\" href=\"#r\"/>"));
    EXPECT_THROW(looping.Decode(looping.BodyElement().Children.at(0), TSoapType::String, "a"),
                 ESoapFault);
}

} // namespace
