#include "catalogue/ReleaseName.h"


#include <QStringList>

namespace {

// Folds only A to Z, so that the length and every position stay as they are.
QString FoldAscii(const QString& text) {
    QString folded = text;
    for (QChar& c : folded) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return folded;
}

// Removes every character with a code of 32 or less from both ends.
QString TrimControls(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

struct TQualityToken {
    const char16_t* token;
    const char16_t* name;
};

// Tried in this order; a later hit overrides an earlier one.
constexpr TQualityToken QualityTokens[] = {{u"dvdscreener", u"DVD Screener"},
                                           {u"TS-SCREENER", u"TS Screener"},
                                           {u"VHS-Screener", u"VHS Screener"},
                                           {u"dvdscr", u"DVD Screener"},
                                           {u"hdtv", u"HD TV"},
                                           {u"dvb", u"DVB"},
                                           {u"dvdrip", u"DVD Rip"},
                                           {u"TSSCRE", u"TS Screener"},
                                           {u"TeleSync", u"TeleSync"},
                                           {u"hdrip", u"HD Rip"},
                                           {u"hd", u"HD Rip"}};

constexpr const char16_t* SpanishTokens[] = {u"spanish", u"español"};

constexpr const char16_t* NoiseTokens[] = {
    u"xvid", u"mp3",  u"line", u"dubbed", u"parte1",  u"parte2",        u"cd1",
    u"cd2",  u"720p", u"720",  u"x264",   u"dubbled", u"directors cut", u"director's cut"};

constexpr const char16_t* MarkTokens[] = {u"V.O.", u"Sub.", u"AC3-5.1", u"AC3", u"Dual"};

constexpr int FirstYear = 1980;
constexpr int LastYear = 2020;
constexpr int LastSeason = 30;
constexpr int LastEpisode = 30;

QString TwoDigits(int number) {
    return QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}

// Removes every occurrence of `pattern` and trims; true when the text changed.
bool RemoveAllAndTrim(QString& s, const QString& pattern, Qt::CaseSensitivity sensitivity) {
    const QString before = s;
    s.remove(pattern, sensitivity);
    s = TrimControls(s);
    return s != before;
}

// The file name of a path: the part after the last "\", ":" or "/".
QString FileNameOf(const QString& filePath) {
    qsizetype at = -1;
    for (const QChar separator : {QLatin1Char('\\'), QLatin1Char(':'), QLatin1Char('/')})
        at = std::max(at, filePath.lastIndexOf(separator));
    return filePath.mid(at + 1);
}

} // namespace

bool RemoveToken(QString& text, const QString& token) {
    const qsizetype at = FoldAscii(text).indexOf(FoldAscii(token));
    if (at < 0)
        return false;
    text.remove(at, token.size());
    return true;
}

void RemoveEnclosed(QString& text, const QString& open, const QString& close) {
    const auto findPair = [&](qsizetype& a, qsizetype& b) {
        a = text.indexOf(open);
        b = a < 0 ? -1 : text.indexOf(close, a + open.size());
    };
    qsizetype a = -1;
    qsizetype b = -1;
    findPair(a, b);
    while (a >= 0 && b >= 0) {
        text.remove(a, b + close.size() - a);
        findPair(a, b);
    }
    if (a >= 0) {
        const QString left = text.left(a);
        const QString right = text.mid(a + open.size());
        text = right.size() > left.size() ? right : left;
    }
}

void ParseReleaseName(const QString& filePath, QStringList& lines, QString& title) {
    const QString fileName = FileNameOf(filePath);
    QString s = fileName;
    const qsizetype dot = s.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        s.truncate(dot);

    QString quality;
    for (const TQualityToken& entry : QualityTokens) {
        if (RemoveToken(s, QString::fromUtf16(entry.token)))
            quality = QString::fromUtf16(entry.name);
    }

    QString language = QStringLiteral("English");
    for (const char16_t* token : SpanishTokens) {
        if (RemoveToken(s, QString::fromUtf16(token)))
            language = QStringLiteral("Spanish");
    }

    for (const char16_t* token : NoiseTokens)
        RemoveToken(s, QString::fromUtf16(token));
    RemoveEnclosed(s, QStringLiteral("www"), QStringLiteral("com"));
    for (const char16_t* token : MarkTokens)
        RemoveToken(s, QString::fromUtf16(token));

    const qsizetype by = FoldAscii(s).indexOf(QStringLiteral("by"));
    if (by >= 0)
        s.truncate(by);

    s.replace(QLatin1Char('.'), QLatin1Char(' '));
    s = TrimControls(s);
    s.replace(QLatin1Char('_'), QLatin1Char(' '));
    s = TrimControls(s);
    s.replace(QStringLiteral("ny"), QStringLiteral("ñ"));
    s = TrimControls(s);

    for (int year = FirstYear; year <= LastYear; ++year)
        RemoveAllAndTrim(s, QString::number(year), Qt::CaseSensitive);

    for (int season = 0; season <= LastSeason; ++season) {
        for (int episode = 0; episode <= LastEpisode; ++episode) {
            RemoveAllAndTrim(s, QStringLiteral("Temporada %1").arg(season), Qt::CaseInsensitive);
            RemoveAllAndTrim(s, QStringLiteral("Capitulo %1").arg(episode), Qt::CaseInsensitive);
            if (RemoveAllAndTrim(s, QStringLiteral("%1x%2").arg(season).arg(TwoDigits(episode)),
                                 Qt::CaseSensitive))
                break;
            if (RemoveAllAndTrim(s, TwoDigits(season) + TwoDigits(episode), Qt::CaseSensitive))
                break;
            RemoveAllAndTrim(s, u'S' + TwoDigits(season) + u'E' + TwoDigits(episode),
                             Qt::CaseInsensitive);
            RemoveAllAndTrim(s, TwoDigits(season) + TwoDigits(episode), Qt::CaseInsensitive);
            RemoveAllAndTrim(s, QString::number(season) + QString::number(episode),
                             Qt::CaseInsensitive);
            RemoveAllAndTrim(s, u't' + TwoDigits(season) + u'E' + TwoDigits(episode),
                             Qt::CaseInsensitive);
        }
    }
    s = TrimControls(s);

    RemoveEnclosed(s, QStringLiteral("["), QStringLiteral("]"));
    RemoveEnclosed(s, QStringLiteral("("), QStringLiteral(")"));
    RemoveEnclosed(s, QStringLiteral("-"), QStringLiteral("-"));

    if (!s.isEmpty() && s[0] >= u'a' && s[0] <= u'z')
        s[0] = QChar(s[0].unicode() - (u'a' - u'A'));

    lines.append(QStringLiteral("file:") + fileName);
    lines.append(QStringLiteral("quality:") + quality);
    lines.append(QStringLiteral("lang:") + language);
    title = s;
}
