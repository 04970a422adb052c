#include "app/Ttavilonapi.h"

#include "app/Errors.h"
#include "app/OptionDefaults.h"
#include "app/OptionsManager.h"

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
