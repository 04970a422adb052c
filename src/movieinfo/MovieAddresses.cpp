#include "movieinfo/MovieAddresses.h"

#include "core/Endpoints.h"
#include "covers/CoverPictures.h"

#include <QUrl>

namespace {

constexpr int HttpPort = 80;
constexpr int HttpsPort = 443;

// `url` without a port that its scheme implies.
void DropDefaultPort(QUrl& url) {
    const QString scheme = url.scheme();
    if ((scheme == QLatin1String("http") && url.port() == HttpPort) ||
        (scheme == QLatin1String("https") && url.port() == HttpsPort))
        url.setPort(-1);
}

} // namespace

QString NormalizedSiteAddress(const QString& address) {
    QUrl url(address);
    DropDefaultPort(url);
    QString text = url.toString(QUrl::FullyEncoded);
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

QString ImdbSiteAddress() {
    return NormalizedSiteAddress(MetadataUrl());
}

QString ImdbTitlePrefix(const QString& site) {
    return site + QStringLiteral("/title/tt");
}

QString ImdbTitlePage(const QString& site, const QString& imdbId) {
    return ImdbTitlePrefix(site) + (IsImdbId(imdbId) ? imdbId : QString()) + QLatin1Char('/');
}

QString ImdbIdFromAddress(const QString& location, const QString& prefix) {
    QString id = location;
    if (!prefix.isEmpty())
        id.remove(prefix, Qt::CaseInsensitive);
    id.remove(QLatin1Char('/'));
    return id;
}

QString AbuseReportAddress() {
    QUrl url(FileHostUrl());
    DropDefaultPort(url);
    url.setPath(QStringLiteral("/"));
    url.setQuery(QStringLiteral("c=abuse"));
    url.setFragment(QString());
    return url.toString(QUrl::FullyEncoded);
}
