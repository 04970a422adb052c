// The file-host account operations of the data module.

#include "app/Endpoints.h"
#include "app/OptionDefaults.h"
#include "app/OptionsManager.h"
#include "app/THttpCli.h"
#include "app/Ttavilonapi.h"
#include "app/Utils.h"
#include "filehost/Megaupload.h"

namespace {

// How often a login that joins one already waiting on HttpCli looks whether it has ended.
constexpr unsigned kLoginJoinPollMs = 10;

} // namespace

bool Ttavilonapi::Login() {
    // A login that starts while another one waits on HttpCli (window events are served during
    // the request) joins it: it waits until that request has ended and answers its outcome.
    // The wait looks at the request, not at the other call's return, since that call can only
    // return after this one.
    if (LoginRequestOpen()) {
        while (LoginRequestOpen() && HttpCli->Busy())
            WaitProcessingMessages(kLoginJoinPollMs);
        return IsLoggedIn();
    }
    // Another request of the data module on the shared client: let it end first.
    while (HttpCli->Busy())
        WaitProcessingMessages(kLoginJoinPollMs);
    const QString userName = GetOptionString(LoginSection, QStringLiteral("Username"));
    const QString password = GetOptionString(LoginSection, QStringLiteral("Password"));
    PostLogin(userName, password);
    return IsLoggedIn();
}

bool Ttavilonapi::IsLoggedIn() const {
    return !UserCookie.isEmpty();
}

void Ttavilonapi::Logout() {
    UserCookie.clear();
}

void Ttavilonapi::HttpCliCookie(THttpCli*, const QString& data, bool& accept) {
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

QString Ttavilonapi::DownloadUrlFromLink(const QString& link) const {
    const int at = link.indexOf(QStringLiteral("d="));
    if (at < 0)
        return {};
    const QString id = TrimText(link.mid(at + 2));
    return FileHostUrl() + QStringLiteral("/mgr_dl.php?d=") + id + QStringLiteral("&u=") +
           UserCookie;
}
