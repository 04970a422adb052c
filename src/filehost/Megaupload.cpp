#include "filehost/Megaupload.h"

#include "app/Endpoints.h"
#include "app/THttpCli.h"
#include "app/Ttavilonapi.h"
#include "app/UserInteraction.h"
#include "app/Utils.h"

#include <QBuffer>

namespace {

// The number of characters of a link's id that the link check sends.
constexpr int kLinkIdLength = 8;

bool loginRequestOpen = false;

// Closes the status window when the login step ends, also by an error.
class TStatusGuard {
public:
    explicit TStatusGuard(const QString& text) { UserInteraction().ShowStatus(text); }
    ~TStatusGuard() { UserInteraction().HideStatus(); }
    TStatusGuard(const TStatusGuard&) = delete;
    TStatusGuard& operator=(const TStatusGuard&) = delete;
};

} // namespace

bool LoginRequestOpen() {
    return loginRequestOpen;
}

void PostLogin(const QString& userName, const QString& password) {
    const TStatusGuard status(QStringLiteral("Login into ") + FileHostDomain() +
                              QStringLiteral(" as user:") + userName);
    if (userName.isEmpty() || password.isEmpty())
        return;
    THttpCli& http = *tavilonapi->HttpCli;
    http.URL = FileHostUrl() + QLatin1Char('/');
    http.RequestVer = QStringLiteral("1.0");
    http.Agent = QStringLiteral("Mozilla/4.0 (compatible; ICS)");
    http.Accept = QStringLiteral("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    http.ContentTypePost = QStringLiteral("application/x-www-form-urlencoded");
    http.FollowRelocation = true;
    http.LocationChangeMaxCount = 5;
    http.LocalAddr = QStringLiteral("0.0.0.0");
    http.ProxyPort = QStringLiteral("80");

    QByteArray form = "username=" + UrlEncode(TrimText(userName)).toLatin1() +
                      "&password=" + UrlEncode(TrimText(password)).toLatin1() + "&login=1";
    QBuffer send(&form);
    send.open(QIODevice::ReadOnly);
    QBuffer received;
    received.open(QIODevice::WriteOnly);
    http.SendStream = &send;
    http.RcvdStream = &received;
    const auto detach = [&http] {
        http.SendStream = nullptr;
        http.RcvdStream = nullptr;
        loginRequestOpen = false;
    };
    loginRequestOpen = true;
    try {
        http.Post();
    } catch (...) {
        detach();
        throw;
    }
    detach();
}

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
    http.ContentTypePost = QStringLiteral("application/x-www-form-urlencoded");
    http.Agent = QStringLiteral("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
    QBuffer send(&form);
    send.open(QIODevice::ReadOnly);
    QBuffer received;
    received.open(QIODevice::WriteOnly);
    http.SendStream = &send;
    http.RcvdStream = &received;
    http.Post();
    http.SendStream = nullptr;
    http.RcvdStream = nullptr;

    const QString answer = StreamToText(received.data());
    for (int i = 0; i < links.size(); ++i)
        if (answer.contains(QStringLiteral("id%1=1").arg(i)))
            return false;
    return true;
}
