#include "core/Endpoints.h"

#include <QUrl>

namespace {

QString FromEnvironment(const char* variable, const char* fallback) {
    QString value = qEnvironmentVariable(variable);
    if (value.isEmpty())
        value = QString::fromLatin1(fallback);
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    return value;
}

} // namespace

QString BuiltInCatalogueEndpoint() {
    return FromEnvironment("TAVILON_CATALOGUE_URL", "http://127.0.0.1:8180/tavilonserver.php");
}

QString FileHostUrl() { return FromEnvironment("TAVILON_FILEHOST_URL", "http://127.0.0.1:8181"); }

QString FileHostDomain() { return QUrl(FileHostUrl()).host(); }

QString MetadataUrl() { return FromEnvironment("TAVILON_METADATA_URL", "http://127.0.0.1:8182"); }
