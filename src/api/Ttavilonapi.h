#pragma once

#include "platform/WorkingFolders.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
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

    // Plays catalogue video `videoId`: fetches its record lines (a failure ends it here, before
    // any window exists), then opens a player window through OnPlayLinks with the lines, the
    // description and the setting "SendInfo" of the section "Server".
    void PlayVideo(qint64 videoId, const QString& description);

    // Opening a player window for a playback (lines, description, send-info flag). The program
    // sets it (the player window's OpenPlayerWindow); unset, PlayVideo raises.
    using TPlayLinks =
        std::function<void(const QStringList& lines, const QString& description, bool sendInfo)>;
    void SetOnPlayLinks(TPlayLinks handler) { onPlayLinks_ = std::move(handler); }

    // A playback controller on the account, the folders and MPHTTP; end it with Release().
    TPlayer* NewPlayer() const;

    // Registers a played video on the catalogue server of "DefaultServer" unless the server
    // knows it already: checkvideo with the "password:" and "size:" lines and the links; when
    // the answer is false, the record of ParseReleaseName, the user's confirmation of the title
    // and its IMDb page (OnConfirmImdbTitle), and registervideo with the record only when an id
    // came back. `filePath` is the extracted video, `links` the playback's link lines in order.
    // The server's and the search's failures are raised; an id that is not made of digits (the
    // user confirmed a page that is not a title's main page) raises NotATitlePageText before
    // anything more is sent.
    void SendVideoInfo(const QString& filePath, const QStringList& links, const QString& password,
                       qint64 size);

    static inline const QString NotATitlePageText =
        QStringLiteral("The page shown is not a title's main page; the video was not registered.");

    // The user's confirmation of a registration: gets the proposed title, leaves in it the
    // title the user confirmed and in `imdbId` the IMDb id of the page confirmed, or leaves the
    // title alone and `imdbId` empty when the user declined. The program sets it (the main
    // window's ConfirmImdbTitle); unset, every registration is declined.
    using TConfirmImdbTitle = std::function<void(QString& title, QString& imdbId)>;
    void SetOnConfirmImdbTitle(TConfirmImdbTitle handler) {
        onConfirmImdbTitle_ = std::move(handler);
    }

private:
    std::unique_ptr<TFileHostAccount> account_;
    TConfirmImdbTitle onConfirmImdbTitle_;
    TPlayLinks onPlayLinks_;
};

// The single data module, or nullptr before start-up created it.
extern Ttavilonapi* tavilonapi;
