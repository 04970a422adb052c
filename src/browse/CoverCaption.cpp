#include "browse/CoverCaption.h"

namespace {

const QString Ellipsis = QStringLiteral("...");

bool Fits(const QString& text, const QFontMetrics& metrics, int width) {
    return metrics.horizontalAdvance(text + Ellipsis) <= width;
}

} // namespace

QString DecodeTitle(const QString& title) {
    QString text = title;
    if (!text.contains(QLatin1String("&#")))
        return text;
    for (int code = 1; code <= 255; ++code) {
        const QChar character(code);
        const QString hex = QString::number(code, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        text.replace(QStringLiteral("&#x") + hex + QLatin1Char(';'), QString(character),
                     Qt::CaseSensitive);
        text.replace(QStringLiteral("&#%1;").arg(code), QString(character), Qt::CaseSensitive);
    }
    return text;
}

QString ShortenTitle(const QString& title, const QFontMetrics& metrics, int cellWidth) {
    if (title.isEmpty() || Fits(title, metrics, cellWidth))
        return title;
    // The longest start that fits, found by halving (a longer start is never narrower): the
    // same as dropping the last character until it fits, in a handful of measurements.
    qsizetype fits = 0;
    qsizetype tooWide = title.size();
    while (tooWide - fits > 1) {
        const qsizetype middle = fits + (tooWide - fits) / 2;
        if (Fits(title.left(middle), metrics, cellWidth))
            fits = middle;
        else
            tooWide = middle;
    }
    return title.left(std::min<qsizetype>(fits, MaxShortCaptionLength)) + Ellipsis;
}
