#include "api/Ttavilonapi.h"

#include "catalogue/VideoLinks.h"
#include "download/TMultipartHttpDownloader.h"
#include "filehost/TFileHostAccount.h"
#include "net/THttpCli.h"
#include "platform/OptionDefaults.h"
#include "playback/TPlayer.h"

#include <QCoreApplication>

Ttavilonapi* tavilonapi = nullptr;

Ttavilonapi::Ttavilonapi(QObject* owner)
    : QObject(owner), Folders(TWorkingFolders::FromSettings(QCoreApplication::applicationDirPath() +
                                                            QLatin1Char('/'))),
      HttpCli(new THttpCli(this)), MPHTTP(new TMultipartHttpDownloader(this)),
      account_(std::make_unique<TFileHostAccount>(*HttpCli)) {
    tavilonapi = this;
}

Ttavilonapi::~Ttavilonapi() {
    if (tavilonapi == this)
        tavilonapi = nullptr;
}

bool Ttavilonapi::Login() {
    return account_->Login(GetOptionString(LoginSection, QStringLiteral("Username")),
                           GetOptionString(LoginSection, QStringLiteral("Password")));
}

bool Ttavilonapi::IsLoggedIn() const {
    return account_->IsLoggedIn();
}

void Ttavilonapi::Logout() {
    account_->Logout();
}

QString Ttavilonapi::DownloadUrlFromLink(const QString& link) const {
    return account_->DownloadUrlFromLink(link);
}

void Ttavilonapi::GetVideoLinks(qint64 videoId, QStringList& lines) {
    lines = ::GetVideoLinks(
        *HttpCli, GetOptionString(ServerSection, QStringLiteral("DefaultServer")), videoId);
}

TPlayer* Ttavilonapi::NewPlayer() const {
    return new TPlayer(*account_, Folders, MPHTTP);
}
