#include "server/catalogue/TDatabaseLocation.h"

#include "core/Errors.h"

#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

TDatabaseLocation TDatabaseLocation::Parse(const QString& text) {
    TDatabaseLocation location;
    if (text.startsWith(QStringLiteral("sqlite:"))) {
        location.Kind = TKind::SQLite;
        location.Path = text.mid(7);
        if (location.Path.isEmpty())
            throw Exception(QStringLiteral("The database \"sqlite:\" names no file"));
        return location;
    }
    if (text.startsWith(QStringLiteral("postgresql://")) ||
        text.startsWith(QStringLiteral("postgres://"))) {
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid())
            throw Exception(QStringLiteral("The database address is not a valid URI: %1")
                                .arg(url.errorString()));
        location.Kind = TKind::PostgreSQL;
        location.Host = url.host().isEmpty() ? QStringLiteral("localhost") : url.host();
        location.Port = url.port(5432);
        location.User = url.userName();
        location.Password = url.password();
        location.Database = url.path().mid(1);
        if (location.Database.isEmpty())
            location.Database =
                location.User.isEmpty() ? QStringLiteral("postgres") : location.User;
        QStringList options;
        for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
            options.append(key + u'=' + value);
        location.Options = options.join(u';');
        return location;
    }
    throw Exception(QStringLiteral("The database must be sqlite:PATH or postgresql://..., not "
                                   "\"%1\"")
                        .arg(text));
}

TDatabaseLocation TDatabaseLocation::Default() {
    TDatabaseLocation location;
    location.Path = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                    QStringLiteral("/tavilon/catalogue.sqlite");
    return location;
}

QString TDatabaseLocation::Describe() const {
    if (Kind == TKind::SQLite)
        return QStringLiteral("sqlite:") + Path;
    return QStringLiteral("postgresql://%1@%2:%3/%4").arg(User, Host).arg(Port).arg(Database);
}
