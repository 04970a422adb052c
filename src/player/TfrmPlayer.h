#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>

class QAction;
class QFrame;
class QLabel;
class QProgressBar;
class QSlider;
class QTimer;
class QToolBar;
class QToolButton;
class TDownloader;
class TPlayer;
class TVLCPlugin2;

// The window in which one video plays while it is downloaded and extracted. It owns a playback
// controller (TPlayer), starts VLC on the extracted file once it is large enough, and watches
// playback against the download: tmVideo (10 ms) pauses for buffering when the position comes
// too close to the downloaded share (DecideBuffering), tmBuffer (1 s) resumes once the download
// has gained half a percentage point.
//
// Lifetime: a window is created for one playback and frees itself once closed, but never while
// one of its handlers waits (the link check in PlayLinks, SendVideoInfo, the one-second wait
// after buffering); each of them looks after its wait whether the window is closing. Only one
// window plays at a time (OpenPlayerWindow).
class TfrmPlayer : public QWidget {
    Q_OBJECT

public:
    // Picture numbers of imMain.
    static constexpr int PictureClose = 8;
    static constexpr int PicturePlay = 13;
    static constexpr int PicturePause = 17;
    static constexpr int PictureStop = 18;
    static constexpr int PictureFullScreen = 21;
    // Ranges of the track bar.
    static constexpr int TrackBarIdleMax = 100;
    static constexpr int TrackBarMax = 10000;
    // The wait after a buffering before the video timer runs again.
    static constexpr unsigned ResumeWaitMs = 1000;
    // A finished download whose video has not grown for this long ends the stream there.
    static constexpr int NoGrowthEndMs = 30000;
    // Keyboard steps.
    static constexpr double SeekStepMs = 10000;
    static constexpr int VolumeStep = 10;

    static inline const QString IncompleteVideoText =
        QStringLiteral("The video could not be extracted completely.");

    // FormCreate. Needs the data module (tavilonapi) for the controller.
    explicit TfrmPlayer(QWidget* parent = nullptr);
    // FormDestroy: releases the controller (aborting its transfer), then the VLC control.
    ~TfrmPlayer() override;

    // Register the video with the catalogue when playback starts; set by the creator.
    bool SendInfo = false;

    // Splits the lines into the password and the links and starts the controller. When Start
    // fails (the retry declined included) the window closes and the error goes on.
    void PlayLinks(const QStringList& lines);

    // The controller's handlers.
    void DownloadProgress(const QString& sizeText, const QString& receivedText,
                          const QString& speedText, const QString& percentText,
                          const QString& elapsedText, int position, int max);
    void VideoFileReady(TDownloader* sender, const QString& fileName);

    void PlayerPlayCommandExecute();
    void PlayerPlayCommandUpdate();
    void PlayerStopCommandExecute();
    void PlayerViewFullScreenCommandExecute();
    void btnCloseClick();
    void tbProgressChange();
    void tmVideoTimer();
    void tmBufferTimer();

    TPlayer* Player() const { return player_; }
    TVLCPlugin2* VLC() const { return vlc_; }
    bool PlaybackStarted() const { return playbackStarted_; }
    double BufferStartPercent() const { return bufferStartPercent_; }
    // The window was closed; it goes once no handler of it waits.
    bool Closing() const { return closing_; }
    // The play action shows the picture `number` (13 Play, 17 Pause).
    int PlayPicture() const { return playPicture_; }

    // Components.
    QLabel* pnFile = nullptr;
    QFrame* pnBuffering = nullptr;
    QLabel* lbBuffering = nullptr; // the caption of pnBuffering
    QLabel* lbBufferTarget = nullptr;
    QProgressBar* pbProgress = nullptr;
    QFrame* Panel1 = nullptr;
    QToolBar* tbPlayer = nullptr;
    QToolButton* ToolButton20 = nullptr;
    QToolButton* btnPlayerStop = nullptr;
    QToolButton* ToolButton22 = nullptr;
    QToolButton* btnClose = nullptr;
    QFrame* Panel6 = nullptr;
    QSlider* tbProgress = nullptr;
    QFrame* Panel7 = nullptr;
    QLabel* lbTime = nullptr;
    QFrame* Panel2 = nullptr;
    QLabel* lbSpeed = nullptr;
    QMap<int, QIcon> imMain;
    QAction* PlayerPlayCommand = nullptr;
    QAction* PlayerStopCommand = nullptr;
    QAction* PlayerViewFullScreenCommand = nullptr;
    QTimer* tmVideo = nullptr;
    QTimer* tmBuffer = nullptr;
    // Follows the growing video for the VLC control while it plays (every second).
    QTimer* tmSource = nullptr;

protected:
    // The download as the timers see it.
    virtual bool VolumeInTransfer() const;
    virtual double OverallPercent() const;
    virtual void UpdateOverallPercent();
    virtual bool DownloadFinished() const;
    // The video's whole size: the decompressor's LargestSize, or for a volume that is itself the
    // video its content length; 0 while unknown.
    virtual int64_t VideoSize() const;

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Counts the handlers that wait; the last one out frees a closed window.
    class TWaitingHandler {
    public:
        explicit TWaitingHandler(TfrmPlayer* form);
        ~TWaitingHandler();
        TWaitingHandler(const TWaitingHandler&) = delete;
        TWaitingHandler& operator=(const TWaitingHandler&) = delete;

    private:
        QPointer<TfrmPlayer> form_;
    };

    void CreateControls();
    QFrame* CreateTopStrips();
    QFrame* CreateToolBar();
    QFrame* CreateBottomBar();
    void CreateActions();
    void CreatePictures();
    void CreateTimers();
    void ShowPauseCaption();
    void ShowPlayCaption();
    void SetPlayCaption(int picture, const QString& caption);
    void TogglePlayCaption();
    void ShowBuffering();
    void HideBuffering();
    void ShowBufferTarget(int bar);
    void RegisterVideo(const QString& fileName);
    void StartVideo(const QString& fileName);
    void VideoTick();
    void StartBuffering(double overallPercent);
    void ResumeAfterBuffering();
    void tmSourceTimer();
    void EndIncompleteVideo(int64_t written);
    void HandleKey(int key);
    void SeekBy(double milliseconds);
    void FreeWhenIdle();

    TPlayer* player_ = nullptr;
    TVLCPlugin2* vlc_ = nullptr;
    QWidget* vlcPlace_ = nullptr;
    bool playbackStarted_ = false;
    double bufferStartPercent_ = 0;
    int playPicture_ = PicturePlay;
    bool trackingTimerMove_ = false;
    bool closing_ = false;
    int waitingHandlers_ = 0;
    // The video item and what is known of its growth.
    int item_ = -1;
    QString videoFile_;
    int64_t finalSize_ = 0;
    bool extracted_ = false;
    bool ended_ = false;
    int64_t lastWritten_ = -1;
    QElapsedTimer sinceGrowth_;
};

// Closes the window that plays (waiting, bounded, until it is gone), then creates a new one,
// the current window from now on, and shows it maximized.
TfrmPlayer* NewPlayerWindow();

// Opens a player window for a playback (NewPlayerWindow), after closing the one that plays
// (waiting, bounded, for its extractor to end): shows it maximized, puts the description into its
// file panel (shown when not blank), sets its send-info flag, brings it to the front and calls
// PlayLinks. The new window, or raises what PlayLinks raised.
TfrmPlayer* OpenPlayerWindow(const QStringList& lines, const QString& description, bool sendInfo);

// The window playing now, or nullptr.
TfrmPlayer* CurrentPlayerWindow();
