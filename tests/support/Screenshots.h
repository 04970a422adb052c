#pragma once

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QRect>
#include <QScreen>
#include <QSet>
#include <QString>

// Pictures of the real (Xvfb) screen for the e2e tests: a widget grab would miss what other
// processes draw, such as libVLC's video window or QtWebEngine's page.
namespace testenv {

inline QImage GrabScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
        QImage::Format_RGB32);
}

// Saves the picture as `name` in the build's screenshots folder, to be looked at.
inline bool SaveScreenshot(const QImage& picture, const QString& name, const QString& dir) {
    QDir().mkpath(dir);
    return picture.save(dir + QLatin1Char('/') + name);
}

// How many different colours the rectangle holds (a drawn page, text or video has many).
inline int Colours(const QImage& picture, const QRect& area) {
    QSet<QRgb> seen;
    for (int y = area.top(); y <= area.bottom(); y += 2) {
        for (int x = area.left(); x <= area.right(); x += 2)
            seen.insert(picture.pixel(x, y));
    }
    return static_cast<int>(seen.size());
}

} // namespace testenv
