#include "api/Ttavilonapi.h"

#include "catalogue/GetCatalogueService.h"
#include "catalogue/ReleaseName.h"
#include "catalogue/TVideoRecord.h"
#include "catalogue/VideoLinks.h"
#include "core/Errors.h"
#include "core/Utils.h"
#include "covers/CoverPictures.h"
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

void Ttavilonapi::PlayVideo(qint64 videoId, const QString& description) {
    QStringList lines;
    GetVideoLinks(videoId, lines);
    if (!onPlayLinks_)
        throw Exception(QStringLiteral("The player is not available"));
    onPlayLinks_(lines, description, GetOptionBoolean(ServerSection, QStringLiteral("SendInfo")));
}

TPlayer* Ttavilonapi::NewPlayer() const {
    return new TPlayer(*account_, Folders, MPHTTP);
}

void Ttavilonapi::SendVideoInfo(const QString& filePath, const QStringList& links,
                                const QString& password, qint64 size) {
    const QString passwordLine = TVideoRecord::PasswordKey + password;
    const QString sizeLine = TVideoRecord::SizeKey + FormatSize(size);
    const QStringList question = QStringList{passwordLine, sizeLine} + links;
    if (GetCatalogueService()->checkvideo(question))
        return;

    QStringList record = {passwordLine, sizeLine};
    QString title;
    ParseReleaseName(filePath, record, title);
    QString imdbId;
    if (onConfirmImdbTitle_)
        onConfirmImdbTitle_(title, imdbId);
    record.append(TVideoRecord::ImdbIdKey + imdbId);
    record.append(links);
    if (imdbId.isEmpty())
        return;
    // The id is taken from the address the user confirmed: on a sub-page or a foreign page it
    // is no title's id, and the server would refuse it.
    if (!IsImdbId(imdbId))
        throw Exception(NotATitlePageText);
    GetCatalogueService()->registervideo(title, record);
}
