#include "filehost/Megaupload.h"

#include "core/Endpoints.h"
#include "core/Utils.h"
#include "net/THttpCli.h"


namespace {

// The number of characters of a link's id that the link check sends.
constexpr int kLinkIdLength = 8;

} // namespace

QString LinkIdFromLink(const QString& link) {
    const int at = link.indexOf(QStringLiteral("d="));
    if (at < 0)
        return {};
    return TrimText(link.mid(at + 2, kLinkIdLength));
}

bool CheckLinks(const QStringList& links) {
    QByteArray form;
    for (int i = 0; i < links.size(); ++i)
        form += "id" + QByteArray::number(i) + "=" + LinkIdFromLink(links[i]).toLatin1() + "&";

    THttpCli http;
    http.URL = FileHostUrl() + QStringLiteral("/mgr_linkcheck.php");
    http.Accept = QStringLiteral("*/*");
    http.RequestVer = QStringLiteral("1.1");
    http.Agent = QStringLiteral("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
    const QByteArray received = PostFromMemory(http, form);

    const QString answer = StreamToText(received);
    for (int i = 0; i < links.size(); ++i)
        if (answer.contains(QStringLiteral("id%1=1").arg(i)))
            return false;
    return true;
}
