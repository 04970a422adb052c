#include "covers/CoverPictures.h"

#include "core/Endpoints.h"
#include "core/Errors.h"
#include "core/Utils.h"
#include "net/THttpCli.h"

#include <QBuffer>
#include <QSaveFile>

namespace {

const QString PosterAnchor = QStringLiteral("<a name=\"poster\"");
const QString SourceMarker = QStringLiteral("src=\"");
const QString TitleMarker = QStringLiteral("/tt");

// A synchronous GET of `url` into `into` on a fresh client; a body larger than `limit` ends the
// request with an error.
void BoundedGet(const QString& url, QIODevice& into, qint64 limit) {
    THttpCli http;
    http.URL = url;
    http.RcvdStream = &into;
    bool tooLarge = false;
    http.SetOnDocData([&](THttpCli* sender, const char*, int64_t) {
        if (!tooLarge && sender->RcvdCount() > limit) {
            tooLarge = true;
            sender->Abort();
        }
    });
    try {
        http.Get();
    } catch (const EAbort&) {
        if (!tooLarge)
            throw;
    }
    if (tooLarge)
        throw Exception(
            QStringLiteral("The answer of %1 is larger than %2 bytes").arg(url).arg(limit));
}

QString GetPage(const QString& url) {
    QBuffer body;
    body.open(QIODevice::WriteOnly);
    BoundedGet(url, body, MaxPageSize);
    return StreamToText(body.data());
}

} // namespace

bool IsImdbId(const QString& id) {
    if (id.isEmpty() || id.size() > MaxImdbIdLength)
        return false;
    for (const QChar c : id) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

QString CoverFileName(const QString& imagesDir, const QString& id) {
    return imagesDir + id + QStringLiteral(".jpg");
}

QString DownloadCover(const QString& id, const QString& imagesDir) {
    if (!IsImdbId(id))
        throw Exception(QStringLiteral("Not an IMDb id: %1").arg(id.left(MaxImdbIdLength)));
    const QString page =
        GetPage(MetadataUrl() + QStringLiteral("/title/tt") + id + QLatin1Char('/'));
    const QString address = FindPosterUrl(page);
    if (!address.isEmpty())
        SavePoster(address, imagesDir, id);
    return address;
}

QString FindPosterUrl(const QString& html) {
    const qsizetype anchor = html.indexOf(PosterAnchor);
    if (anchor < 0)
        return {};
    const qsizetype source = html.indexOf(SourceMarker, anchor);
    if (source < 0)
        return {};
    const qsizetype start = source + SourceMarker.size();
    const qsizetype quote = html.indexOf(QLatin1Char('"'), start);
    if (quote < 0)
        return {};
    return html.mid(start, quote - start);
}

void SavePoster(const QString& address, const QString& imagesDir, const QString& id) {
    if (!IsImdbId(id))
        throw Exception(QStringLiteral("Not an IMDb id: %1").arg(id.left(MaxImdbIdLength)));
    QSaveFile cover(CoverFileName(imagesDir, id));
    if (!cover.open(QIODevice::WriteOnly))
        throw Exception(
            QStringLiteral("Cannot create %1: %2").arg(cover.fileName(), cover.errorString()));
    BoundedGet(address, cover, MaxPosterSize);
    if (!cover.commit())
        throw Exception(
            QStringLiteral("Cannot write %1: %2").arg(cover.fileName(), cover.errorString()));
}

QString SearchImdbId(const QString& title) {
    QString words = title;
    words.replace(QLatin1Char(' '), QLatin1Char('+'));
    return FindFirstTitleId(GetPage(MetadataUrl() + QStringLiteral("/find?q=") + words +
                                    QStringLiteral(";mx=20;tt=on")));
}

QString FindFirstTitleId(const QString& html) {
    const qsizetype marker = html.indexOf(TitleMarker);
    if (marker < 0)
        return {};
    const qsizetype start = marker + TitleMarker.size();
    const qsizetype slash = html.indexOf(QLatin1Char('/'), start);
    if (slash < 0)
        return {};
    return html.mid(start, slash - start);
}
