#include "app/Ttavilonapi.h"

#include "app/Errors.h"
#include "app/OptionDefaults.h"
#include "app/OptionsManager.h"
#include "app/THttpCli.h"
#include "download/TMultipartHttpDownloader.h"

#include <QCoreApplication>
#include <QDir>

Ttavilonapi* tavilonapi = nullptr;

void CreateDirectory(const QString& path) {
    if (path.isEmpty())
        throw Exception(QStringLiteral("Unable to create directory"));
    QDir().mkpath(path);
}

Ttavilonapi::Ttavilonapi(QObject* owner) : QObject(owner) {
    tavilonapi = this;
    const QString programDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    ImagesDir = programDir + QStringLiteral("images/");
    // Tests and benches keep their cover files apart from the installed program's.
    if (const QString imagesDir = qEnvironmentVariable("TAVILON_IMAGES_DIR"); !imagesDir.isEmpty())
        ImagesDir = imagesDir.endsWith(QLatin1Char('/')) ? imagesDir : imagesDir + QLatin1Char('/');
    UnrarDir = programDir + QStringLiteral("unrar/");
    CompressedDir = GetOptionString(InterfaceSection, QStringLiteral("CompressedDirectory"));
    UncompressedDir = GetOptionString(InterfaceSection, QStringLiteral("UncompressedDirectory"));

    // The file-host account's settings; the cookie handler is hooked by the account code.
    HttpCli = new THttpCli(this);
    HttpCli->RequestVer = QStringLiteral("1.0");
    HttpCli->Agent = QStringLiteral("Mozilla/4.0 (compatible; ICS)");
    HttpCli->Accept = QStringLiteral("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    HttpCli->ContentTypePost = QStringLiteral("application/x-www-form-urlencoded");
    HttpCli->FollowRelocation = true;
    HttpCli->LocationChangeMaxCount = 5;
    HttpCli->LocalAddr = QStringLiteral("0.0.0.0");
    HttpCli->ProxyPort = QStringLiteral("80");
    HttpCli->ServerAuth = THttpAuth::None;
    HttpCli->ProxyAuth = THttpAuth::None;
    HttpCli->SetOnCookie([this](THttpCli* sender, const QString& data, bool& accept) {
        HttpCliCookie(sender, data, accept);
    });
    MPHTTP = new TMultipartHttpDownloader(this);
}

Ttavilonapi::~Ttavilonapi() {
    if (tavilonapi == this)
        tavilonapi = nullptr;
}

void Ttavilonapi::CreateWorkingDirectories() {
    CreateDirectory(ImagesDir);
    CreateDirectory(CompressedDir);
    CreateDirectory(UncompressedDir);
}
