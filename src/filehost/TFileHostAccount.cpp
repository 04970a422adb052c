#include "filehost/TFileHostAccount.h"

#include "core/Endpoints.h"
#include "core/UserInteraction.h"
#include "core/Utils.h"
#include "net/THttpCli.h"

#include <QScopeGuard>

namespace {

// How often a login that joins one already waiting on the client looks whether it has ended.
constexpr unsigned kLoginJoinPollMs = 10;

} // namespace

TFileHostAccount::TFileHostAccount(THttpCli& http) : http_(http) {
    http_.SetOnCookie([this](THttpCli* sender, const QString& data, bool& accept) {
        HttpCliCookie(sender, data, accept);
    });
}

TFileHostAccount::~TFileHostAccount() {
    http_.SetOnCookie(nullptr);
}

bool TFileHostAccount::Login(const QString& userName, const QString& password) {
    // A login that starts while another one waits on the client (window events are served
    // during the request) joins it: it waits until that request has ended and answers its
    // outcome. The wait looks at the request, not at the other call's return, since that call
    // can only return after this one.
    if (loginRequestOpen_) {
        while (loginRequestOpen_ && http_.Busy())
            WaitProcessingMessages(kLoginJoinPollMs);
        return IsLoggedIn();
    }
    // Another request on the shared client: let it end first.
    while (http_.Busy())
        WaitProcessingMessages(kLoginJoinPollMs);
    PostLogin(userName, password);
    return IsLoggedIn();
}

void TFileHostAccount::PostLogin(const QString& userName, const QString& password) {
    UserInteraction().ShowStatus(QStringLiteral("Login into ") + FileHostDomain() +
                                 QStringLiteral(" as user:") + userName);
    const auto hideStatus = qScopeGuard([] { UserInteraction().HideStatus(); });
    if (userName.isEmpty() || password.isEmpty())
        return;
    // The client's own settings are the form's: only the address is this request's.
    http_.URL = FileHostUrl() + QLatin1Char('/');
    const QByteArray form = "username=" + UrlEncode(TrimText(userName)).toLatin1() +
                            "&password=" + UrlEncode(TrimText(password)).toLatin1() + "&login=1";
    loginRequestOpen_ = true;
    const auto closed = qScopeGuard([this] { loginRequestOpen_ = false; });
    PostFromMemory(http_, form);
}

void TFileHostAccount::HttpCliCookie(THttpCli*, const QString& data, bool& accept) {
    accept = true;
    const QString marker = QStringLiteral("user=");
    const int at = data.indexOf(marker);
    if (at < 0)
        return;
    const QString rest = data.mid(at + marker.size());
    const int end = rest.indexOf(QLatin1Char(';'));
    if (end >= 0)
        UserCookie = rest.left(end);
}

QString TFileHostAccount::DownloadUrlFromLink(const QString& link) const {
    const int at = link.indexOf(QStringLiteral("d="));
    if (at < 0)
        return {};
    const QString id = TrimText(link.mid(at + 2));
    return FileHostUrl() + QStringLiteral("/mgr_dl.php?d=") + id + QStringLiteral("&u=") +
           UserCookie;
}
