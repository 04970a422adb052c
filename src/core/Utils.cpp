#include "core/Utils.h"

#include "core/Errors.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <cmath>
#include <cstdio>

namespace {

constexpr int64_t KiloByte = 1024;
constexpr int64_t MegaByte = 1024 * KiloByte;
constexpr int64_t GigaByte = 1024 * MegaByte;

// size / unit with up to two decimals: v*100 rounded to the nearest integer, ties to even,
// written in the shortest general form with at most 15 significant digits.
QString TwoDecimals(int64_t size, int64_t unit) {
    const long double hundredths =
        std::nearbyint(static_cast<long double>(size) * 100.0L / static_cast<long double>(unit));
    char text[64];
    std::snprintf(text, sizeof text, "%.15Lg", hundredths / 100.0L);
    QString result = QString::fromLatin1(text);
    result.replace(QLatin1Char('.'), QLocale().decimalPoint());
    return result;
}

// Windows-1252 code points of the bytes 0x80 to 0x9F; the five unassigned bytes map to the
// control character of the same number, as the system's conversion does.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsUnreserved(char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.';
}

QString AsciiLower(QString text) {
    for (QChar& c : text) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return text;
}

void AppendPercent(QString& out, unsigned byte) {
    out += QStringLiteral("%%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString FormatSize(int64_t size) {
    if (size < 0)
        return QStringLiteral("error");
    if (size < KiloByte)
        return QStringLiteral("%1 Byte").arg(size);
    if (size < MegaByte)
        return TwoDecimals(size, KiloByte) + QStringLiteral(" KB");
    if (size < GigaByte)
        return TwoDecimals(size, MegaByte) + QStringLiteral(" MB");
    return TwoDecimals(size, GigaByte) + QStringLiteral(" GB");
}

void WaitProcessingMessages(unsigned ms) {
    const QDeadlineTimer deadline(ms, Qt::PreciseTimer);
    while (!deadline.hasExpired() && !QCoreApplication::closingDown()) {
        QEventLoop loop;
        QTimer::singleShot(deadline.remainingTime(), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

QString StreamToText(const QByteArray& stream) {
    QString text(stream.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : stream) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = (byte >= 0x80 && byte < 0xA0) ? QChar(Cp1252High[byte - 0x80]) : QChar(byte);
    }
    return text;
}

QString GetMyDocumentsPath() {
    QString path = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.isEmpty())
        throw Exception(QStringLiteral("Could not find MyDocuments folder location."));
    return path;
}

QString GetFileExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

QString UrlEncode(const QString& text) {
    QString out;
    for (const char32_t c : text.toUcs4()) {
        if (IsUnreserved(c)) {
            out += QChar(static_cast<char16_t>(c));
        } else if (c <= 0xFF) {
            AppendPercent(out, c);
        } else {
            const QByteArray utf8 = QString::fromUcs4(&c, 1).toUtf8();
            for (const char byte : utf8)
                AppendPercent(out, static_cast<unsigned char>(byte));
        }
    }
    return out;
}

int LastPos(const QString& needle, const QString& haystack) {
    for (qsizetype start = haystack.size(); start >= 1; --start) {
        if (QStringView(haystack).mid(start - 1, needle.size()) == needle)
            return static_cast<int>(start);
    }
    return 0;
}

QString TrimText(const QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] <= QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] <= QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

QString ExtractLink(const QString& line) {
    const QString trimmed = TrimText(line);
    const int position = LastPos(QStringLiteral("http://"), AsciiLower(trimmed));
    return position == 0 ? QString() : TrimText(trimmed.mid(position - 1));
}

QStringList ExtractLinks(const QString& text) {
    QStringList links;
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    for (const QString& line : text.split(lineBreak)) {
        const QString link = TrimText(ExtractLink(line));
        if (!link.isEmpty())
            links.append(link);
    }
    return links;
}
