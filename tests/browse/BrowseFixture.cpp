#include "BrowseFixture.h"

#include "platform/OptionDefaults.h"
#include "platform/OptionsManager.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>

namespace {

using TSiteTitle = TBrowseServers::TSiteTitle;
using TVideo = TBrowseServers::TCatalogueVideo;

std::vector<TSiteTitle> SiteTitles() {
    return {
        {"0000001", "Covered One", true, {}, {}},
        {"0000002", "Covered Two", true, {}, {}},
        {"0000003", "Broken Next", true, {}, {}},
        {"0000004", "Slow Cover", true, {}, {}},
        {"0000006", "Plain Without Poster", false, {}, {}},
    };
}

std::vector<TVideo> Videos() {
    std::vector<TVideo> videos = {
        {"Caf&#xE9;", "", {}, {}},
        {"Caf&#233;", "", {}, {}},
        {"Caf&#xe9;", "", {}, {}},
        {"Covered One", "0000001", {}, {}},
        {"Covered Two", "0000002", {}, {}},
        {"Plain Without Poster", "0000006", {}, {}},
        {"Blank Id Entry", "", {}, {}},
        {"Broken Page", "0000099", {}, {}},
        {"Broken Next", "0000003", {}, {}},
        {"Slow Cover", "0000004", {}, {}},
        {"Remarkably Long Title For A Small Cell Indeed", "", {}, {}},
        {"Short", "", {}, {}},
    };
    for (int n = static_cast<int>(videos.size()) + 1; n <= TBrowseServers::VideoCount; ++n)
        videos.push_back(
            {QStringLiteral("Filler %1").arg(n, 2, 10, QLatin1Char('0')), QString(), {}, {}});
    // One link each, on a port where nothing answers.
    for (size_t i = 0; i < videos.size(); ++i)
        videos[i].Links = {QStringLiteral("http://127.0.0.1:9/?d=LINK%1").arg(i + 1)};
    return videos;
}

bool WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray PosterPicture(int seed) {
    QImage picture(30, 45, QImage::Format_RGB32);
    picture.fill(QColor::fromHsv((seed * 70) % 360, 200, 220));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return buffer.data();
}

qint64 Field(const QString& body, const char* name) {
    const QRegularExpression field(
        QStringLiteral("<%1[^>]*>(-?\\d+)</%1>").arg(QLatin1String(name)));
    const QRegularExpressionMatch match = field.match(body);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

} // namespace

TBrowseServers::TBrowseServers() {
    Start(SiteTitles(), Videos());
}

TBrowseServers::TBrowseServers(const std::vector<TSiteTitle>& site,
                               const std::vector<TCatalogueVideo>& videos) {
    Start(site, videos);
}

void TBrowseServers::Start(const std::vector<TSiteTitle>& site,
                           const std::vector<TCatalogueVideo>& videos) {
    const QString root = testenv::MakeTempDir(QStringLiteral("browse"));
    siteDir_ = root + QStringLiteral("/site");
    for (const TSiteTitle& title : site) {
        const QString folder = siteDir_ + QStringLiteral("/tt") + title.Id;
        QString info = QStringLiteral("title: ") + title.Title + QLatin1Char('\n');
        if (!title.Year.isEmpty())
            info += QStringLiteral("year: ") + title.Year + QLatin1Char('\n');
        if (!title.Plot.isEmpty())
            info += QStringLiteral("plot: ") + title.Plot + QLatin1Char('\n');
        WriteFile(folder + QStringLiteral("/info.txt"), info.toUtf8());
        if (title.Poster)
            WriteFile(folder + QStringLiteral("/poster.png"), Poster(title.Id));
    }
    QString records = QStringLiteral("# made by the browser's tests\n");
    for (const TVideo& video : videos) {
        records += QStringLiteral("title:%1\nquality:DVD Rip\nlang:English\nimdbid:%2\n")
                       .arg(video.Title, video.ImdbId);
        if (!video.Password.isEmpty())
            records += QStringLiteral("password:") + video.Password + QLatin1Char('\n');
        for (const QString& link : video.Links)
            records += link + QLatin1Char('\n');
        records += QLatin1Char('\n');
    }
    const QString recordFile = root + QStringLiteral("/catalogue.txt");
    WriteFile(recordFile, records.toUtf8());
    const QString db = QStringLiteral("sqlite:") + root + QStringLiteral("/catalogue.sqlite");
    QProcess import;
    import.start(testenv::BinDir() + QStringLiteral("/tavilon-catalogue"),
                 {QStringLiteral("import"), recordFile, QStringLiteral("--db"), db});
    if (!import.waitForFinished(30000) || import.exitCode() != 0) {
        problem_ =
            QStringLiteral("import failed: ") + QString::fromUtf8(import.readAllStandardError());
        return;
    }

    catalogueProxy = std::make_unique<TRecordingProxy>();
    metadataProxy = std::make_unique<TRecordingProxy>();
    catalogue_ = std::make_unique<testenv::TServerProcess>(
        QStringLiteral("tavilon-catalogue"),
        QStringList{QStringLiteral("serve"), QStringLiteral("--db"), db});
    metadata_ = std::make_unique<testenv::TServerProcess>(
        QStringLiteral("tavilon-metadata"),
        QStringList{QStringLiteral("--dir"), siteDir_, QStringLiteral("--public-url"),
                    QString::fromStdString(metadataProxy->Url())});
    if (catalogue_->Url().isEmpty() || metadata_->Url().isEmpty()) {
        problem_ = QStringLiteral("a server did not start: ") + catalogue_->StandardError() +
                   metadata_->StandardError();
        return;
    }
    catalogueProxy->SetTarget(catalogue_->Url().toStdString());
    metadataProxy->SetTarget(metadata_->Url().toStdString());

    imagesDir_ = root + QStringLiteral("/images/");
    QDir().mkpath(imagesDir_);
    QFile::copy(testenv::BinDir() + QStringLiteral("/images/noimage.png"),
                imagesDir_ + QStringLiteral("noimage.png"));
    qputenv("TAVILON_IMAGES_DIR", QFile::encodeName(imagesDir_));
    qputenv("TAVILON_METADATA_URL", metadataProxy->Url().c_str());

    if (!OptionsManager().FindSection(LoginSection))
        RegisterOptionDefaults();
    testenv::ClearSettingsStore();
    TOptionsManager writer;
    RegisterOptionDefaults(writer);
    const QString endpoint =
        QString::fromStdString(catalogueProxy->Url()) + QStringLiteral("/tavilonserver.php");
    writer.FindSection(ServerSection)->SetString(QStringLiteral("DefaultServer"), endpoint);
    const QString work = root + QStringLiteral("/work");
    writer.FindSection(InterfaceSection)
        ->SetString(QStringLiteral("CompressedDirectory"), work + "/c/");
    writer.FindSection(InterfaceSection)
        ->SetString(QStringLiteral("UncompressedDirectory"), work + "/u");
    writer.SaveAll();
}

TBrowseServers::~TBrowseServers() {
    qunsetenv("TAVILON_IMAGES_DIR");
    qunsetenv("TAVILON_METADATA_URL");
    testenv::ClearSettingsStore();
}

bool TBrowseServers::Started() const {
    return problem_.isEmpty();
}

QByteArray TBrowseServers::Poster(const QString& id) const {
    return PosterPicture(id.toInt());
}

std::vector<TBrowseServers::TPageRequest> TBrowseServers::PageRequests() const {
    std::vector<TPageRequest> pages;
    for (const TRecordingProxy::TRequest& request : catalogueProxy->Requests()) {
        const QString body = QString::fromStdString(request.body);
        if (request.method != "POST" || !body.contains(QLatin1String("getvideos")))
            continue;
        TPageRequest page;
        page.start = Field(body, "start");
        page.limit = Field(body, "limit");
        page.type = Field(body, "type");
        static const QRegularExpression search(QStringLiteral("<search[^>]*>([^<]*)</search>"));
        const QRegularExpressionMatch match = search.match(body);
        page.search = match.hasMatch() ? match.captured(1) : QString();
        pages.push_back(page);
    }
    return pages;
}
