#include "server/catalogue/TCatalogueService.h"

#include "catalogue/CatalogueNamespaces.h"
#include "catalogue/TCatalogueEntry.h"
#include "soap/ESoapFault.h"
#include "soap/TSoapMessage.h"
#include "soap/TSoapWriter.h"

#include <map>

namespace {

const std::string XmlContentType = "text/xml; charset=utf-8";
const std::string TextContentType = "text/plain; charset=windows-1252";
// The longest decimal id read from an address.
constexpr qsizetype MaxIdDigits = 18;

const QString GetVideosName = QStringLiteral("getvideos");
const QString CheckVideoName = QStringLiteral("checkvideo");
const QString RegisterVideoName = QStringLiteral("registervideo");

// The bytes 0x80 to 0x9F of Windows-1252, as the client reads them.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The text in Windows-1252, the code page the client reads bodies in; characters it cannot
// hold become "?".
std::string ToWindows1252(const QString& text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out.push_back(static_cast<char>(u));
            continue;
        }
        char byte = '?';
        for (int i = 0; i < 32; ++i) {
            if (Cp1252High[i] == u)
                byte = static_cast<char>(0x80 + i);
        }
        out.push_back(byte);
    }
    return out;
}

THttpReply FaultReply(const ESoapFault& fault) {
    const QByteArray body = TSoapWriter::Fault(fault);
    return {500, XmlContentType, body.toStdString()};
}

THttpReply TextReply(int status, const QString& text) {
    return {status, TextContentType, ToWindows1252(text + QStringLiteral("\r\n"))};
}

TSoapValue Parameter(const TSoapMessage& message, const QString& name, int position,
                     const QStringList& names, TSoapType type) {
    const TSoapNode* node =
        TSoapMessage::FindParameter(message.BodyElement(), name, position, names);
    if (node == nullptr)
        throw ESoapFault::Client(QStringLiteral("The parameter \"%1\" of %2 is missing")
                                     .arg(name, message.BodyElement().Name));
    return message.Decode(*node, type, QStringLiteral("parameter \"%1\"").arg(name));
}

QString WsdlFor(const QString& endpointUrl) {
    QString endpoint = endpointUrl.toHtmlEscaped();
    return QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<definitions name="tavilon" targetNamespace="urn:tavilon" xmlns:tns="urn:tavilon"
  xmlns:types="%2" xmlns:soap="http://schemas.xmlsoap.org/wsdl/soap/"
  xmlns:soapenc="http://schemas.xmlsoap.org/soap/encoding/" xmlns:wsdl="http://schemas.xmlsoap.org/wsdl/"
  xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns="http://schemas.xmlsoap.org/wsdl/">
  <types>
    <xsd:schema targetNamespace="%2">
      <xsd:import namespace="http://schemas.xmlsoap.org/soap/encoding/"/>
      <xsd:complexType name="ArrayOfstring">
        <xsd:complexContent>
          <xsd:restriction base="soapenc:Array">
            <xsd:attribute ref="soapenc:arrayType" wsdl:arrayType="xsd:string[]"/>
          </xsd:restriction>
        </xsd:complexContent>
      </xsd:complexType>
    </xsd:schema>
  </types>
  <message name="registervideoRequest"><part name="title" type="xsd:string"/><part name="links" type="types:ArrayOfstring"/></message>
  <message name="registervideoResponse"><part name="return" type="xsd:string"/></message>
  <message name="checkvideoRequest"><part name="links" type="types:ArrayOfstring"/></message>
  <message name="checkvideoResponse"><part name="return" type="xsd:boolean"/></message>
  <message name="getvideosRequest"><part name="start" type="xsd:long"/><part name="limit" type="xsd:long"/><part name="search" type="xsd:string"/><part name="type" type="xsd:long"/></message>
  <message name="getvideosResponse"><part name="return" type="types:ArrayOfstring"/></message>
  <portType name="tavilonPortType">
    <operation name="registervideo"><input message="tns:registervideoRequest"/><output message="tns:registervideoResponse"/></operation>
    <operation name="checkvideo"><input message="tns:checkvideoRequest"/><output message="tns:checkvideoResponse"/></operation>
    <operation name="getvideos"><input message="tns:getvideosRequest"/><output message="tns:getvideosResponse"/></operation>
  </portType>
  <binding name="tavilonBinding" type="tns:tavilonPortType">
    <soap:binding style="rpc" transport="http://schemas.xmlsoap.org/soap/http"/>
    <operation name="registervideo"><soap:operation soapAction="%1/registervideo"/><input><soap:body use="encoded" namespace="urn:tavilon" encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"/></input><output><soap:body use="encoded" namespace="urn:tavilon" encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"/></output></operation>
    <operation name="checkvideo"><soap:operation soapAction="%1/checkvideo"/><input><soap:body use="encoded" namespace="urn:tavilon" encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"/></input><output><soap:body use="encoded" namespace="urn:tavilon" encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"/></output></operation>
    <operation name="getvideos"><soap:operation soapAction="%1/getvideos"/><input><soap:body use="encoded" namespace="urn:tavilon" encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"/></input><output><soap:body use="encoded" namespace="urn:tavilon" encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"/></output></operation>
  </binding>
  <service name="tavilon">
    <port name="tavilonPort" binding="tns:tavilonBinding"><soap:address location="%1"/></port>
  </service>
</definitions>
)")
        .arg(endpoint, catalogue::ArrayOfstringNamespace);
}

} // namespace

TCatalogueService::TCatalogueService(std::function<TCatalogueStore&()> store)
    : store_(std::move(store)) {}

QString TCatalogueService::Description(const QString& quality, const QString& lang) {
    QStringList parts;
    if (!quality.isEmpty())
        parts.append(quality);
    if (!lang.isEmpty())
        parts.append(lang);
    return parts.join(TCatalogueEntry::Separator);
}

void TCatalogueService::CheckTitle(const QString& title) {
    if (title.trimmed().isEmpty())
        throw ESoapFault::Client(QStringLiteral("The title is empty"));
    if (title.size() > MaxTitleLength)
        throw ESoapFault::Client(
            QStringLiteral("The title is longer than %1 characters").arg(MaxTitleLength));
    if (title.contains(TCatalogueEntry::Separator))
        throw ESoapFault::Client(QStringLiteral("The title must not contain \"@@@\""));
    for (const QChar c : title) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            throw ESoapFault::Client(
                QStringLiteral("The title must not contain control characters"));
    }
}

void TCatalogueService::CheckImdbId(const QString& imdbId, bool mayBeEmpty) {
    if (imdbId.isEmpty() && mayBeEmpty)
        return;
    bool digits = !imdbId.isEmpty() && imdbId.size() <= MaxImdbIdLength;
    for (const QChar c : imdbId)
        digits = digits && c >= u'0' && c <= u'9';
    if (!digits)
        throw ESoapFault::Client(
            imdbId.isEmpty()
                ? QStringLiteral("The record has no IMDb id (an \"imdbid:\" line with digits)")
                : QStringLiteral("The IMDb id \"%1\" is not made of digits only (at most %2)")
                      .arg(imdbId.left(40))
                      .arg(MaxImdbIdLength));
}

TVideoRecord TCatalogueService::ReadRecord(const QStringList& lines) {
    if (lines.size() > MaxRecordLines)
        throw ESoapFault::Client(
            QStringLiteral("The record has more than %1 lines").arg(MaxRecordLines));
    for (const QString& line : lines) {
        if (line.size() > MaxLineLength)
            throw ESoapFault::Client(
                QStringLiteral("A line of the record is longer than %1 characters")
                    .arg(MaxLineLength));
        if (line.contains(u'\r') || line.contains(u'\n'))
            throw ESoapFault::Client(QStringLiteral("A line of the record holds a line break"));
    }
    return TVideoRecord::FromLines(lines);
}

QByteArray TCatalogueService::GetVideos(const TSoapMessage& message) {
    const QStringList names = {QStringLiteral("start"), QStringLiteral("limit"),
                               QStringLiteral("search"), QStringLiteral("type")};
    const qint64 start = Parameter(message, names[0], 0, names, TSoapType::Long).Number;
    const qint64 limit = Parameter(message, names[1], 1, names, TSoapType::Long).Number;
    const QString search = Parameter(message, names[2], 2, names, TSoapType::String).Text;
    const qint64 type = Parameter(message, names[3], 3, names, TSoapType::Long).Number;
    if (type < 0 || type > 4)
        throw ESoapFault::Client(
            QStringLiteral("The sort order %1 is unknown (0 to 4 are offered)").arg(type));
    if (search.size() > MaxSearchLength)
        throw ESoapFault::Client(
            QStringLiteral("The search text is longer than %1 characters").arg(MaxSearchLength));

    const TCataloguePage page =
        store_().Find(search, std::max<qint64>(start, 0), std::clamp<qint64>(limit, 0, MaxPageSize),
                      static_cast<TSortOrder>(type));
    QStringList answer;
    answer.reserve(static_cast<qsizetype>(page.Videos.size()) + 1);
    answer.append(QString::number(page.Total));
    for (const TVideoSummary& video : page.Videos) {
        TCatalogueEntry entry;
        entry.Title = video.Title;
        entry.ImdbId = video.ImdbId;
        entry.VideoIdText = QString::number(video.Id);
        entry.Description = Description(video.Quality, video.Lang);
        answer.append(entry.Join());
    }
    return TSoapWriter::Response(catalogue::InterfaceNamespace, GetVideosName,
                                 TSoapValue::StringArray(answer));
}

QByteArray TCatalogueService::CheckVideo(const TSoapMessage& message) {
    const QStringList names = {QStringLiteral("links")};
    const QStringList lines = Parameter(message, names[0], 0, names, TSoapType::StringArray).Items;
    const TVideoRecord record = ReadRecord(lines);
    bool known = false;
    if (!record.Links.isEmpty()) {
        TCatalogueStore& store = store_();
        if (const auto id = store.FindByLinks(record.Links)) {
            store.CountPlay(*id);
            known = true;
        }
    }
    return TSoapWriter::Response(catalogue::InterfaceNamespace, CheckVideoName,
                                 TSoapValue::Boolean(known));
}

QByteArray TCatalogueService::RegisterVideo(const TSoapMessage& message) {
    const QStringList names = {QStringLiteral("title"), QStringLiteral("links")};
    const QString title = Parameter(message, names[0], 0, names, TSoapType::String).Text;
    const QStringList lines = Parameter(message, names[1], 1, names, TSoapType::StringArray).Items;
    CheckTitle(title);
    TNewVideo video;
    video.Title = title.trimmed();
    video.Record = ReadRecord(lines);
    if (video.Record.Links.isEmpty())
        throw ESoapFault::Client(QStringLiteral("The record has no links"));
    CheckImdbId(video.Record.ImdbId, false);

    TCatalogueStore& store = store_();
    store.Begin();
    qint64 id = 0;
    try {
        // A video whose links are known already keeps its id: registering twice adds nothing.
        const auto known = store.FindByLinks(video.Record.Links);
        id = known ? *known : store.Add(video);
        store.Commit();
    } catch (...) {
        store.Rollback();
        throw;
    }
    return TSoapWriter::Response(catalogue::InterfaceNamespace, RegisterVideoName,
                                 TSoapValue::String(QString::number(id)));
}

THttpReply TCatalogueService::HandleSoap(const QByteArray& body) {
    try {
        if (body.size() > MaxRequestBytes)
            return TooLarge();
        const TSoapMessage message = TSoapMessage::Parse(body);
        const TSoapNode& operation = message.BodyElement();
        if (operation.NamespaceUri != catalogue::InterfaceNamespace)
            throw ESoapFault::Client(
                QStringLiteral("The operation \"%1\" in the namespace \"%2\" is unknown here; "
                               "the operations are in \"%3\"")
                    .arg(operation.Name.left(80), operation.NamespaceUri.left(200),
                         catalogue::InterfaceNamespace));
        QByteArray answer;
        if (operation.Name == GetVideosName)
            answer = GetVideos(message);
        else if (operation.Name == CheckVideoName)
            answer = CheckVideo(message);
        else if (operation.Name == RegisterVideoName)
            answer = RegisterVideo(message);
        else
            throw ESoapFault::Client(
                QStringLiteral("The operation \"%1\" is unknown").arg(operation.Name.left(80)));
        return {200, XmlContentType, answer.toStdString()};
    } catch (const ESoapFault& fault) {
        return FaultReply(fault);
    } catch (const Exception& failure) {
        return FaultReply(ESoapFault::Server(failure.Message()));
    } catch (const std::exception& failure) {
        return FaultReply(ESoapFault::Server(QStringLiteral("Internal error: ") +
                                             QString::fromLocal8Bit(failure.what())));
    }
}

THttpReply TCatalogueService::TooLarge() {
    return FaultReply(ESoapFault::Client(
        QStringLiteral("The request is larger than %1 bytes").arg(MaxRequestBytes)));
}

THttpReply TCatalogueService::HandleGet(const std::multimap<std::string, std::string>& query,
                                        const QString& endpointUrl) {
    if (query.count("wsdl") > 0)
        return {200, XmlContentType, WsdlFor(endpointUrl).toStdString()};
    const auto id = query.find("id");
    if (id == query.end())
        return TextReply(400, QStringLiteral("Missing id: ask for ?id=N"));
    const QString text = QString::fromStdString(id->second);
    bool digits = !text.isEmpty() && text.size() <= MaxIdDigits;
    for (const QChar c : text)
        digits = digits && c >= u'0' && c <= u'9';
    if (!digits)
        return TextReply(400, QStringLiteral("The id must be a decimal number"));
    try {
        const auto lines = store_().VideoLines(text.toLongLong());
        if (!lines)
            return TextReply(404, QStringLiteral("No video has the id %1").arg(text));
        QString body = TVideoRecord::PasswordKey + lines->first + QStringLiteral("\r\n");
        for (const QString& link : lines->second)
            body += link + QStringLiteral("\r\n");
        return {200, TextContentType, ToWindows1252(body)};
    } catch (const Exception& failure) {
        return TextReply(500, failure.Message());
    }
}
