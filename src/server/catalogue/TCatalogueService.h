#pragma once

#include "server/catalogue/TCatalogueStore.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <string>

// An answer of the server, ready for the HTTP layer.
struct THttpReply {
    int Status = 200;
    std::string ContentType;
    std::string Body;
};

// The catalogue's operations as the HTTP server offers them: the three SOAP operations of
// the POST, and the video's lines, the service description and the errors of the GET. Every
// failure of a request becomes a SOAP fault (POST) or a 4xx answer with a plain text (GET).
class TCatalogueService {
public:
    // Largest request body accepted.
    static constexpr qsizetype MaxRequestBytes = 1024 * 1024;
    // Largest page of getvideos; a larger limit is cut to it.
    static constexpr qint64 MaxPageSize = 500;
    // Longest search text accepted.
    static constexpr qsizetype MaxSearchLength = 1000;
    // Bounds of a record sent with checkvideo or registervideo.
    static constexpr qsizetype MaxRecordLines = 1000;
    static constexpr qsizetype MaxLineLength = 4096;
    static constexpr qsizetype MaxTitleLength = 500;
    static constexpr qsizetype MaxImdbIdLength = 16;

    // `store` gives the calling thread's connection to the catalogue.
    explicit TCatalogueService(std::function<TCatalogueStore&()> store);

    THttpReply HandleSoap(const QByteArray& body);
    // The GET of the endpoint: `query` holds the parameters of the address ("id", "wsdl");
    // `endpointUrl` is the address the client used, for the service description.
    THttpReply HandleGet(const std::multimap<std::string, std::string>& query,
                         const QString& endpointUrl);

    // The answer to a request body above MaxRequestBytes.
    static THttpReply TooLarge();

    // The description field of an entry: the non-empty ones of quality and language, joined
    // by "@@@".
    static QString Description(const QString& quality, const QString& lang);
    // Checks a title for the catalogue; raises ESoapFault("Client") with the reason.
    static void CheckTitle(const QString& title);
    // Checks an IMDb id: digits only; empty only when `mayBeEmpty`.
    static void CheckImdbId(const QString& imdbId, bool mayBeEmpty);

private:
    QByteArray GetVideos(const class TSoapMessage& message);
    QByteArray CheckVideo(const class TSoapMessage& message);
    QByteArray RegisterVideo(const class TSoapMessage& message);
    static TVideoRecord ReadRecord(const QStringList& lines);

    std::function<TCatalogueStore&()> store_;
};
