#include "extract/CommandLine.h"

namespace {

bool IsBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

} // namespace

QStringList SplitCommandLine(const QString& text) {
    QStringList arguments;
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('"')) {
            if (quoted && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                current += c;
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (IsBlank(c) && !quoted) {
            if (!current.isEmpty())
                arguments.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.isEmpty())
        arguments.append(current);
    return arguments;
}

QString QuoteArgument(const QString& text) {
    bool needsQuotes = false;
    for (QChar c : text)
        if (IsBlank(c) || c == QLatin1Char('"'))
            needsQuotes = true;
    if (!needsQuotes)
        return text;
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        if (c == QLatin1Char('"'))
            out += QLatin1Char('"');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}
