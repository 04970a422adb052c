#include "catalogue/VideoLinks.h"

#include "core/Utils.h"
#include "net/THttpCli.h"

#include <QRegularExpression>

QStringList GetVideoLinks(THttpCli& http, const QString& server, qint64 videoId) {
    http.URL = server + QStringLiteral("?id=") + QString::number(videoId);
    const QByteArray body = GetToMemory(http);
    if (body.isEmpty())
        return {};
    // Split as a list of lines takes a text: a line break at the very end starts no new line.
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QString text = StreamToText(body);
    if (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(text.endsWith(QStringLiteral("\r\n")) ? 2 : 1);
    return text.split(lineBreak);
}
