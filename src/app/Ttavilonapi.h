#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class THttpCli;
class TMultipartHttpDownloader;

// The data module: lives for the whole run and holds the working directories and the
// components the subsystems share. Its operations of the other subsystems are implemented in
// their own folders.
class Ttavilonapi : public QObject {
    Q_OBJECT

public:
    // Computes the directory fields from the program's folder and the settings.
    explicit Ttavilonapi(QObject* owner = nullptr);
    ~Ttavilonapi() override;

    // The program folder's "images/", with a trailing "/": cover files. TAVILON_IMAGES_DIR
    // overrides it.
    QString ImagesDir;
    // The setting "CompressedDirectory": downloaded volumes.
    QString CompressedDir;
    // The setting "UncompressedDirectory": extracted and directly playable files.
    QString UncompressedDir;
    // The program folder's "unrar/", with a trailing "/": the extractor and its progress file.
    QString UnrarDir;

    // The value of the file host's "user" cookie; empty means not logged in.
    QString UserCookie;

    // File-host account (src/filehost/). Login posts the account of the settings and answers
    // IsLoggedIn; a login that starts while another waits on HttpCli joins it.
    bool Login();
    bool IsLoggedIn() const;
    void Logout();
    // The account's download URL for a file-host link ("d=<id>"), or empty text.
    QString DownloadUrlFromLink(const QString& link) const;
    // HttpCli's cookie handler: keeps the value of a "user=<value>;" cookie line.
    void HttpCliCookie(THttpCli* sender, const QString& data, bool& accept);
    // Volume downloader (src/download/): the name's extension is that of a playable video.
    static bool IsVideoFile(const QString& fileName);

    // The shared HTTP client (the catalogue's plain GET, the file-host login); a child of this.
    THttpCli* HttpCli = nullptr;
    // The one multipart downloader, lent to every playback's volume downloader; a child of this.
    TMultipartHttpDownloader* MPHTTP = nullptr;

    // Creates ImagesDir, CompressedDir and UncompressedDir, in that order. Raises "Unable to
    // create directory" for an empty one; other failures are met later by what writes there.
    void CreateWorkingDirectories();

    // Catalogue (src/catalogue/). Derives a display title from the file name of a video being
    // played; appends "file:", "quality:" and "lang:" lines to `lines`.
    void ParseReleaseName(const QString& filePath, QStringList& lines, QString& title) const;
    // Replaces `lines` with the record lines of video `videoId`: a synchronous GET of
    // "DefaultServer" + "?id=" + the id through HttpCli (events keep being served meanwhile).
    // A failed request raises its error; an empty body gives no lines.
    void GetVideoLinks(qint64 videoId, QStringList& lines);
};

// The single data module, or nullptr before start-up created it.
extern Ttavilonapi* tavilonapi;

// Creates `path` with all missing parents. An empty path raises "Unable to create directory";
// any other failure is left for the code that writes there to meet.
void CreateDirectory(const QString& path);
