#include "platform/WorkingFolders.h"

#include "core/Errors.h"
#include "platform/OptionDefaults.h"

#include <QDir>

TWorkingFolders TWorkingFolders::FromSettings(const QString& programDir) {
    TWorkingFolders folders;
    folders.ImagesDir = programDir + QStringLiteral("images/");
    // Tests and benches keep their cover files apart from the installed program's.
    if (const QString imagesDir = qEnvironmentVariable("TAVILON_IMAGES_DIR"); !imagesDir.isEmpty())
        folders.ImagesDir =
            imagesDir.endsWith(QLatin1Char('/')) ? imagesDir : imagesDir + QLatin1Char('/');
    folders.UnrarDir = programDir + QStringLiteral("unrar/");
    folders.CompressedDir =
        GetOptionString(InterfaceSection, QStringLiteral("CompressedDirectory"));
    folders.UncompressedDir =
        GetOptionString(InterfaceSection, QStringLiteral("UncompressedDirectory"));
    return folders;
}

void TWorkingFolders::CreateWorkingDirectories() const {
    CreateDirectory(ImagesDir);
    CreateDirectory(CompressedDir);
    CreateDirectory(UncompressedDir);
}

void CreateDirectory(const QString& path) {
    if (path.isEmpty())
        throw Exception(QStringLiteral("Unable to create directory"));
    QDir().mkpath(path);
}
