#include "app/OptionDefaults.h"
#include "app/THttpCli.h"
#include "app/Ttavilonapi.h"
#include "app/Utils.h"

#include <QBuffer>
#include <QRegularExpression>

void Ttavilonapi::GetVideoLinks(qint64 videoId, QStringList& lines) {
    QBuffer body;
    body.open(QIODevice::ReadWrite);
    HttpCli->URL = GetOptionString(ServerSection, QStringLiteral("DefaultServer")) +
                   QStringLiteral("?id=") + QString::number(videoId);
    HttpCli->RcvdStream = &body;
    try {
        HttpCli->Get();
    } catch (...) {
        HttpCli->RcvdStream = nullptr;
        throw;
    }
    HttpCli->RcvdStream = nullptr;

    // Split as a list of lines takes a text: a line break at the very end starts no new line.
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QString text = StreamToText(body.data());
    if (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(text.endsWith(QStringLiteral("\r\n")) ? 2 : 1);
    lines.clear();
    if (!body.data().isEmpty())
        lines = text.split(lineBreak);
}
