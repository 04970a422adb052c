#include "server/common/ListenAddress.h"

namespace {

constexpr int MaxPort = 65535;

} // namespace

std::optional<TListenAddress> TListenAddress::Parse(const QString& text) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty() || host.contains(QLatin1Char(' ')))
        return std::nullopt;
    const QString portText = text.mid(colon + 1);
    bool ok = !portText.isEmpty();
    for (const QChar c : portText)
        ok = ok && c.isDigit() && c.unicode() < 128;
    const int port = ok ? portText.toInt(&ok) : 0;
    if (!ok || port > MaxPort)
        return std::nullopt;
    return TListenAddress{host, port};
}

QString TListenAddress::ToString() const {
    const QString host = Host.contains(QLatin1Char(':')) ? u'[' + Host + u']' : Host;
    return host + u':' + QString::number(Port);
}
