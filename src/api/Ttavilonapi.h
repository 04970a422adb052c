#pragma once

#include "platform/WorkingFolders.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class TFileHostAccount;
class THttpCli;
class TMultipartHttpDownloader;
class TPlayer;

// The data module: lives for the whole run, holds the working folders and the components the
// subsystems share, and answers the program's operations by calling into them. Only windows
// and program entry points use it; the engine objects get what they need from their creator.
class Ttavilonapi : public QObject {
    Q_OBJECT

public:
    // Computes the working folders from the program's folder and the settings.
    explicit Ttavilonapi(QObject* owner = nullptr);
    ~Ttavilonapi() override;

    TWorkingFolders Folders;

    // The shared HTTP client (the catalogue's plain GET, the file-host login); a child of this.
    THttpCli* HttpCli = nullptr;
    // The one multipart downloader, lent to every playback's volume downloader; a child of this.
    TMultipartHttpDownloader* MPHTTP = nullptr;
    // The file-host account on HttpCli.
    TFileHostAccount& Account() const { return *account_; }

    // Logs into the file host with the account of the settings; answers IsLoggedIn.
    bool Login();
    bool IsLoggedIn() const;
    void Logout();
    // The account's download URL for a file-host link ("d=<id>"), or empty text.
    QString DownloadUrlFromLink(const QString& link) const;

    // Creates the working folders (TWorkingFolders::CreateWorkingDirectories).
    void CreateWorkingDirectories() const { Folders.CreateWorkingDirectories(); }

    // Replaces `lines` with the record lines of video `videoId` from the catalogue server of
    // the setting "DefaultServer" (GetVideoLinks of the catalogue).
    void GetVideoLinks(qint64 videoId, QStringList& lines);

    // A playback controller on the account, the folders and MPHTTP; end it with Release().
    TPlayer* NewPlayer() const;

private:
    std::unique_ptr<TFileHostAccount> account_;
};

// The single data module, or nullptr before start-up created it.
extern Ttavilonapi* tavilonapi;
