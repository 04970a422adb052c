#pragma once

#include <QString>
#include <QStringList>

class THttpCli;

// The record lines of video `videoId` (the "password:" line, then the links in volume order):
// a synchronous GET of `server` + "?id=" + the id through `http`, events being served
// meanwhile. A failed request raises its error; an empty body gives no lines.
QStringList GetVideoLinks(THttpCli& http, const QString& server, qint64 videoId);
