#include "player/TfrmPlayer.h"

#include "api/Ttavilonapi.h"
#include "core/Errors.h"
#include "core/UserInteraction.h"
#include "core/Utils.h"
#include "download/TDownloader.h"
#include "download/TMultipartHttpDownloader.h"
#include "extract/TDecompressor.h"
#include "platform/ProcessState.h"
#include "playback/TPlayer.h"
#include "player/BufferingDecision.h"
#include "player/TVLCPlugin2.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QScopeGuard>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int FileStripHeight = 21;
constexpr int BufferingStripHeight = 42;
constexpr int BufferingBarHeight = 17;
constexpr int BufferingBarMargin = 3;
constexpr int ToolStripHeight = 66;
constexpr QSize ToolButtonSize{59, 60};
constexpr QSize PictureSize{48, 48};
// The pictures are drawn a little smaller in the buttons, so that the caption fits below them.
constexpr QSize ButtonPictureSize{42, 42};
constexpr int BottomBarHeight = 27;
constexpr int SpeedPanelWidth = 119;
constexpr int TimeTickMs = 10;
constexpr int BufferTickMs = 1000;
constexpr int SourceTickMs = 1000;
// How long opening a window waits for the previous one to go.
constexpr int PreviousWindowWaitMs = 10000;

QPointer<TfrmPlayer> currentWindow;

QFont LabelFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(16);
    font.setBold(true);
    return font;
}

QFrame* MakePanel(QWidget* parent, const char* name) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setFrameShape(QFrame::StyledPanel);
    return panel;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->setFont(LabelFont());
    return label;
}

// "General" decimal text: up to 15 significant digits, the locale's decimal separator.
QString GeneralText(double value) {
    return QLocale::system().toString(value, 'g', 15);
}

template <typename F> void Swallow(F&& call) {
    try {
        call();
    } catch (const std::exception&) {
    }
}

} // namespace

TfrmPlayer::TWaitingHandler::TWaitingHandler(TfrmPlayer* form) : form_(form) {
    ++form_->waitingHandlers_;
}

TfrmPlayer::TWaitingHandler::~TWaitingHandler() {
    if (form_ && --form_->waitingHandlers_ == 0 && form_->closing_)
        form_->deleteLater();
}

TfrmPlayer::TfrmPlayer(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmPlayer"));
    setWindowTitle(QStringLiteral("tavilon player"));
    setWindowFlag(Qt::FramelessWindowHint);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    CreatePictures();
    CreateActions();
    CreateControls();
    CreateTimers();
    // Maximized; without a window manager (a bare X server) the screen's size stands in.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
    if (!tavilonapi)
        throw Exception(QStringLiteral("The player needs the data module"));
    player_ = tavilonapi->NewPlayer();
    player_->SetOnProgress([this](const QString& size, const QString& received,
                                  const QString& speed, const QString& percent,
                                  const QString& elapsed, int position, int max) {
        DownloadProgress(size, received, speed, percent, elapsed, position, max);
    });
    player_->SetOnVideoFileReady(
        [this](TDownloader* sender, const QString& fileName) { VideoFileReady(sender, fileName); });
}

TfrmPlayer::~TfrmPlayer() {
    tmVideo->stop();
    tmBuffer->stop();
    tmSource->stop();
    if (player_)
        player_->Release();
    player_ = nullptr;
    delete vlc_;
    vlc_ = nullptr;
}

// The pictures are our own; a missing one leaves the list unusable.
void TfrmPlayer::CreatePictures() {
    const QMap<int, QString> files = {{PictureClose, QStringLiteral("close.svg")},
                                      {PicturePlay, QStringLiteral("play.svg")},
                                      {PicturePause, QStringLiteral("pause.svg")},
                                      {PictureStop, QStringLiteral("stop.svg")},
                                      {PictureFullScreen, QStringLiteral("fullscreen.svg")}};
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QString path = QStringLiteral(":/player/buttons/") + it.value();
        const QIcon icon(path);
        if (!QFileInfo::exists(path) || icon.pixmap(PictureSize).isNull())
            throw Exception(QStringLiteral("Image list not valid"));
        imMain.insert(it.key(), icon);
    }
}

void TfrmPlayer::CreateActions() {
    PlayerPlayCommand = new QAction(imMain[PicturePlay], QStringLiteral("Play"), this);
    PlayerStopCommand = new QAction(imMain[PictureStop], QStringLiteral("Stop"), this);
    PlayerViewFullScreenCommand =
        new QAction(imMain[PictureFullScreen], QStringLiteral("Full Screen"), this);
    for (QAction* action : {PlayerPlayCommand, PlayerStopCommand, PlayerViewFullScreenCommand})
        action->setEnabled(false);
    connect(PlayerPlayCommand, &QAction::triggered, this, [this] { PlayerPlayCommandExecute(); });
    connect(PlayerStopCommand, &QAction::triggered, this, [this] { PlayerStopCommandExecute(); });
    connect(PlayerViewFullScreenCommand, &QAction::triggered, this,
            [this] { PlayerViewFullScreenCommandExecute(); });
}

void TfrmPlayer::CreateControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    pnFile = MakeLabel(this, "pnFile", QString());
    pnFile->setFixedHeight(FileStripHeight);
    pnFile->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    pnFile->hide();
    layout->addWidget(pnFile);
    layout->addWidget(CreateTopStrips());
    layout->addWidget(CreateToolBar());
    vlcPlace_ = new QWidget(this);
    vlcPlace_->setObjectName(QStringLiteral("vlcPlace"));
    vlcPlace_->setLayout(new QVBoxLayout);
    vlcPlace_->layout()->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(vlcPlace_, 1);
    layout->addWidget(CreateBottomBar());
}

QFrame* TfrmPlayer::CreateTopStrips() {
    pnBuffering = MakePanel(this, "pnBuffering");
    pnBuffering->setFixedHeight(BufferingStripHeight);
    lbBuffering = MakeLabel(pnBuffering, "lbBuffering", QStringLiteral("Buffering...."));
    lbBufferTarget = MakeLabel(pnBuffering, "lbBufferTarget", QString());
    lbBufferTarget->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    pbProgress = new QProgressBar(pnBuffering);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setRange(0, BufferBarMax);
    pbProgress->setValue(0);
    pbProgress->setTextVisible(false);
    pbProgress->setFixedHeight(BufferingBarHeight);
    auto* captions = new QHBoxLayout;
    captions->addWidget(lbBuffering, 1);
    captions->addWidget(lbBufferTarget);
    auto* layout = new QVBoxLayout(pnBuffering);
    layout->setContentsMargins(BufferingBarMargin, 0, BufferingBarMargin, BufferingBarMargin);
    layout->setSpacing(0);
    layout->addLayout(captions);
    layout->addWidget(pbProgress);
    pnBuffering->hide();
    return pnBuffering;
}

QFrame* TfrmPlayer::CreateToolBar() {
    Panel1 = MakePanel(this, "Panel1");
    Panel1->setFixedHeight(ToolStripHeight);
    tbPlayer = new QToolBar(Panel1);
    tbPlayer->setObjectName(QStringLiteral("tbPlayer"));
    tbPlayer->setIconSize(ButtonPictureSize);
    tbPlayer->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    const auto addButton = [this](const char* name) {
        auto* button = new QToolButton(tbPlayer);
        button->setObjectName(QLatin1String(name));
        // At least the described size; wider where the caption needs it ("Full Screen").
        button->setFixedHeight(ToolButtonSize.height());
        button->setMinimumWidth(ToolButtonSize.width());
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(ButtonPictureSize);
        button->setFocusPolicy(Qt::NoFocus);
        // The caption fits under the picture only without the style's padding.
        button->setStyleSheet(QStringLiteral("QToolButton { padding: 0px; margin: 0px; }"));
        tbPlayer->addWidget(button);
        return button;
    };
    ToolButton20 = addButton("ToolButton20");
    ToolButton20->setDefaultAction(PlayerPlayCommand);
    btnPlayerStop = addButton("btnPlayerStop");
    btnPlayerStop->setDefaultAction(PlayerStopCommand);
    ToolButton22 = addButton("ToolButton22");
    ToolButton22->setDefaultAction(PlayerViewFullScreenCommand);
    btnClose = addButton("btnClose");
    btnClose->setText(QStringLiteral("Close"));
    btnClose->setIcon(imMain[PictureClose]);
    connect(btnClose, &QToolButton::clicked, this, [this] { btnCloseClick(); });
    auto* layout = new QHBoxLayout(Panel1);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tbPlayer);
    layout->addStretch(1);
    return Panel1;
}

QFrame* TfrmPlayer::CreateBottomBar() {
    Panel6 = MakePanel(this, "Panel6");
    Panel6->setFixedHeight(BottomBarHeight);
    tbProgress = new QSlider(Qt::Horizontal, Panel6);
    tbProgress->setObjectName(QStringLiteral("tbProgress"));
    tbProgress->setRange(0, TrackBarIdleMax);
    tbProgress->setTickPosition(QSlider::NoTicks);
    tbProgress->setFocusPolicy(Qt::NoFocus);
    connect(tbProgress, &QSlider::valueChanged, this, [this] {
        if (!trackingTimerMove_)
            tbProgressChange();
    });
    Panel7 = MakePanel(Panel6, "Panel7");
    lbTime = MakeLabel(Panel7, "lbTime", QStringLiteral("00:00:00/00:00:00"));
    auto* timeLayout = new QHBoxLayout(Panel7);
    timeLayout->setContentsMargins(4, 0, 4, 0);
    timeLayout->addWidget(lbTime);
    Panel2 = MakePanel(Panel6, "Panel2");
    Panel2->setFixedWidth(SpeedPanelWidth);
    lbSpeed = MakeLabel(Panel2, "lbSpeed", QStringLiteral("speed"));
    lbSpeed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* speedLayout = new QHBoxLayout(Panel2);
    speedLayout->setContentsMargins(2, 0, 4, 0);
    speedLayout->addWidget(lbSpeed);
    auto* layout = new QHBoxLayout(Panel6);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tbProgress, 1);
    layout->addWidget(Panel7);
    layout->addWidget(Panel2);
    return Panel6;
}

void TfrmPlayer::CreateTimers() {
    tmVideo = new QTimer(this);
    tmVideo->setInterval(TimeTickMs);
    connect(tmVideo, &QTimer::timeout, this, [this] { tmVideoTimer(); });
    tmBuffer = new QTimer(this);
    tmBuffer->setInterval(BufferTickMs);
    connect(tmBuffer, &QTimer::timeout, this, [this] { tmBufferTimer(); });
    tmSource = new QTimer(this);
    tmSource->setInterval(SourceTickMs);
    connect(tmSource, &QTimer::timeout, this, [this] { tmSourceTimer(); });
    tmVideo->start();
}

// FormShow: the VLC control fills the space between the tool bar and the bottom bar.
void TfrmPlayer::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (vlc_)
        return;
    vlc_ = new TVLCPlugin2(vlcPlace_);
    vlc_->setObjectName(QStringLiteral("VLC"));
    vlcPlace_->layout()->addWidget(vlc_);
    vlc_->installEventFilter(this);
    for (QWidget* child : vlc_->findChildren<QWidget*>())
        child->installEventFilter(this);
}

void TfrmPlayer::PlayLinks(const QStringList& lines) {
    const TWaitingHandler waiting(this);
    ShowBuffering();
    playbackStarted_ = false;
    player_->Links.clear();
    player_->ArchivePassword.clear();
    const QString passwordKey = QStringLiteral("password:");
    for (const QString& line : lines) {
        if (line.startsWith(passwordKey))
            player_->ArchivePassword = line.mid(passwordKey.size());
        else
            player_->Links.append(line);
    }
    lbBuffering->setText(QStringLiteral("  Checking links..."));
    try {
        player_->Start();
    } catch (...) {
        btnCloseClick();
        throw;
    }
    if (closing_)
        Abort();
}

void TfrmPlayer::DownloadProgress(const QString&, const QString&, const QString& speedText,
                                  const QString&, const QString& elapsedText, int position,
                                  int max) {
    const QString speed = speedText.trimmed();
    lbBuffering->setText(QStringLiteral("  ") + elapsedText + QStringLiteral(" (") + speed +
                         QLatin1Char(')'));
    lbSpeed->setText(speed);
    if (tmBuffer->isActive())
        return;
    pbProgress->setRange(0, max);
    pbProgress->setValue(position);
}

void TfrmPlayer::VideoFileReady(TDownloader*, const QString& fileName) {
    if (playbackStarted_ || closing_)
        return;
    playbackStarted_ = true;
    const TWaitingHandler waiting(this);
    if (SendInfo)
        RegisterVideo(fileName);
    if (closing_ || !vlc_)
        return;
    bufferStartPercent_ = 0;
    StartVideo(fileName);
    HideBuffering();
    ShowPauseCaption();
}

// A failed registration is reported and costs nothing else: the video plays all the same,
// and the registration is not tried again in this window.
void TfrmPlayer::RegisterVideo(const QString& fileName) {
    if (const TDecompressor* decompressor = player_->Decompressor())
        player_->ArchivePassword = decompressor->ArchivePassword();
    try {
        tavilonapi->SendVideoInfo(fileName, player_->Links, player_->ArchivePassword, VideoSize());
    } catch (const EAbort&) {
    } catch (const Exception& error) {
        if (!closing_)
            UserInteraction().ShowError(error.Message());
    }
}

int64_t TfrmPlayer::VideoSize() const {
    const TDecompressor* decompressor = player_->Decompressor();
    const int64_t largest = decompressor ? decompressor->LargestSize() : 0;
    if (largest > 0)
        return largest;
    const TMultipartHttpDownloader* multipart = player_->Multipart();
    return multipart ? multipart->ContentLength() : 0;
}

// The control learns what is known of the file's growth before it plays: an extracted file is
// written in order (its size on disk is right), a plain video in transfer only up to the
// downloader's Available.
void TfrmPlayer::StartVideo(const QString& fileName) {
    videoFile_ = fileName;
    const TDecompressor* decompressor = player_->Decompressor();
    extracted_ = decompressor && decompressor->LargestSize() > 0;
    finalSize_ = VideoSize();
    item_ = vlc_->Playlist().Add(fileName);
    if (finalSize_ > 0)
        vlc_->SetFinalSize(item_, finalSize_);
    vlc_->SetPollFileSize(item_, extracted_ || finalSize_ <= 0);
    tmSourceTimer();
    sinceGrowth_.start();
    tmSource->start();
    vlc_->Playlist().PlayItem(item_);
}

void TfrmPlayer::tmSourceTimer() {
    if (!vlc_ || item_ < 0 || ended_)
        return;
    const TDownloader* downloader = player_ ? player_->Downloader() : nullptr;
    int64_t written = QFileInfo(videoFile_).size();
    if (!extracted_ && downloader && downloader->FileName() == videoFile_)
        written = std::min(written, downloader->Available());
    if (finalSize_ > 0)
        written = std::min(written, finalSize_);
    Swallow([&] { vlc_->SetWrittenSize(item_, written); });
    if (written != lastWritten_) {
        lastWritten_ = written;
        sinceGrowth_.restart();
        return;
    }
    const bool whole = finalSize_ > 0 && written >= finalSize_;
    if (!whole && DownloadFinished() && sinceGrowth_.elapsed() >= NoGrowthEndMs)
        EndIncompleteVideo(written);
}

// The extraction stopped for good: the stream ends where the good bytes end.
void TfrmPlayer::EndIncompleteVideo(int64_t written) {
    ended_ = true;
    tmSource->stop();
    Swallow([&] {
        vlc_->SetFinalSize(item_, written);
        vlc_->SetComplete(item_);
    });
    const TWaitingHandler waiting(this);
    UserInteraction().ShowError(IncompleteVideoText);
}

void TfrmPlayer::PlayerPlayCommandExecute() {
    Swallow([this] {
        if (playPicture_ == PicturePause)
            vlc_->Playlist().TogglePause();
        else
            vlc_->Playlist().Play();
        TogglePlayCaption();
    });
}

void TfrmPlayer::PlayerPlayCommandUpdate() {
    Swallow([this] {
        if (!vlc_)
            return;
        const bool enabled = vlc_->Playlist().ItemCount() >= 1;
        for (QAction* action : {PlayerPlayCommand, PlayerStopCommand, PlayerViewFullScreenCommand})
            action->setEnabled(enabled);
    });
}

void TfrmPlayer::PlayerStopCommandExecute() {
    Swallow([this] {
        if (!vlc_)
            return;
        vlc_->Playlist().Stop();
        ShowPlayCaption();
    });
}

void TfrmPlayer::PlayerViewFullScreenCommandExecute() {
    Swallow([this] {
        if (vlc_)
            vlc_->Video().ToggleFullScreen();
    });
}

void TfrmPlayer::btnCloseClick() {
    tmVideo->stop();
    PlayerStopCommandExecute();
    close();
}

// FormClose: the window goes once closed (when none of its handlers waits), the main window
// shows again.
void TfrmPlayer::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    closing_ = true;
    tmVideo->stop();
    tmBuffer->stop();
    tmSource->stop();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() == QLatin1String("MainForm"))
            window->show();
    }
    FreeWhenIdle();
}

void TfrmPlayer::FreeWhenIdle() {
    if (waitingHandlers_ == 0)
        deleteLater();
}

void TfrmPlayer::tbProgressChange() {
    Swallow([this] {
        if (vlc_ && vlc_->Playlist().ItemCount() >= 1)
            vlc_->Input().SetPosition(tbProgress->value() / static_cast<double>(TrackBarMax));
    });
}

void TfrmPlayer::tmVideoTimer() {
    PlayerPlayCommandUpdate();
    if (tmBuffer->isActive() || !vlc_)
        return;
    try {
        if (vlc_->Playlist().ItemCount() < 1)
            return;
    } catch (const std::exception&) {
        return;
    }
    trackingTimerMove_ = true;
    const auto attach = qScopeGuard([this] { trackingTimerMove_ = false; });
    try {
        VideoTick();
    } catch (const std::exception&) {
        PlayerStopCommandExecute();
    }
}

// Steps 4 to 8 of a tick: the display, then the buffering decision.
void TfrmPlayer::VideoTick() {
    IVLCInput& input = vlc_->Input();
    const double position = input.Position();
    tbProgress->setRange(0, TrackBarMax);
    tbProgress->setValue(RoundHalfEven(position * TrackBarMax));
    const double length = input.Length();
    lbTime->setText(FormatSeconds(RoundHalfEven(input.Time() / 1000)) + QLatin1Char('/') +
                    FormatSeconds(RoundHalfEven(length / 1000)));
    tmBuffer->stop();
    HideBuffering();
    TBufferingInput state;
    state.volumeInTransfer = VolumeInTransfer();
    state.userPaused = playPicture_ == PicturePlay;
    state.position = position;
    state.length = length;
    state.overallPercent = OverallPercent();
    const TBufferingDecision decision = DecideBuffering(state);
    if (decision.hasMargin)
        pnFile->setText(GeneralText(position) + QLatin1Char(' ') +
                        GeneralText(state.overallPercent) + QLatin1Char(' ') +
                        GeneralText(decision.margin));
    if (decision.buffer)
        StartBuffering(state.overallPercent);
}

void TfrmPlayer::StartBuffering(double overallPercent) {
    bufferStartPercent_ = overallPercent;
    PlayerPlayCommandExecute();
    pbProgress->setRange(0, BufferBarMax);
    pbProgress->setValue(0);
    ShowBufferTarget(0);
    ShowBuffering();
    tmBuffer->start();
    tmVideo->stop();
}

void TfrmPlayer::tmBufferTimer() {
    UpdateOverallPercent();
    const TBufferProgress progress = BufferProgress(OverallPercent(), bufferStartPercent_);
    pbProgress->setValue(progress.bar);
    ShowBufferTarget(progress.bar);
    if (progress.resume)
        ResumeAfterBuffering();
}

void TfrmPlayer::ResumeAfterBuffering() {
    PlayerPlayCommandExecute();
    bufferStartPercent_ = 0;
    tmBuffer->stop();
    const TWaitingHandler waiting(this);
    WaitProcessingMessages(ResumeWaitMs);
    if (!closing_)
        tmVideo->start();
}

// How much of the buffer target (half a percentage point of the video) has arrived.
void TfrmPlayer::ShowBufferTarget(int bar) {
    lbBufferTarget->setText(
        QStringLiteral("%1 % of the buffer target  ").arg(bar * 100 / BufferBarMax));
}

void TfrmPlayer::ShowPauseCaption() {
    SetPlayCaption(PicturePause, QStringLiteral("Pause"));
}

void TfrmPlayer::ShowPlayCaption() {
    SetPlayCaption(PicturePlay, QStringLiteral("Play"));
}

void TfrmPlayer::SetPlayCaption(int picture, const QString& caption) {
    playPicture_ = picture;
    PlayerPlayCommand->setIcon(imMain[picture]);
    PlayerPlayCommand->setText(caption);
}

void TfrmPlayer::TogglePlayCaption() {
    if (playPicture_ == PicturePlay)
        ShowPauseCaption();
    else
        ShowPlayCaption();
}

void TfrmPlayer::ShowBuffering() {
    pnBuffering->show();
}

void TfrmPlayer::HideBuffering() {
    pnBuffering->hide();
    lbBufferTarget->clear();
}

bool TfrmPlayer::VolumeInTransfer() const {
    const TMultipartHttpDownloader* multipart = player_ ? player_->Multipart() : nullptr;
    return multipart && multipart->FileStream() != nullptr;
}

double TfrmPlayer::OverallPercent() const {
    const TDownloader* downloader = player_ ? player_->Downloader() : nullptr;
    return downloader ? downloader->OverallPercent() : 0;
}

void TfrmPlayer::UpdateOverallPercent() {
    if (TDownloader* downloader = player_ ? player_->Downloader() : nullptr)
        downloader->UpdateOverallPercent();
}

bool TfrmPlayer::DownloadFinished() const {
    const TDownloader* downloader = player_ ? player_->Downloader() : nullptr;
    return downloader && downloader->Finished();
}

// Keyboard: Space plays or pauses, F toggles full screen and Escape leaves it, Left and Right
// seek 10 s, Up and Down change the volume by 10 %, M mutes.
void TfrmPlayer::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_F:
    case Qt::Key_Escape:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_M:
        HandleKey(event->key());
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TfrmPlayer::HandleKey(int key) {
    if (!vlc_)
        return;
    Swallow([this, key] {
        if (key == Qt::Key_Space && PlayerPlayCommand->isEnabled())
            PlayerPlayCommandExecute();
        else if (key == Qt::Key_F)
            PlayerViewFullScreenCommandExecute();
        else if (key == Qt::Key_Escape && isFullScreen())
            PlayerViewFullScreenCommandExecute();
        else if (key == Qt::Key_Left || key == Qt::Key_Right)
            SeekBy(key == Qt::Key_Left ? -SeekStepMs : SeekStepMs);
        else if (key == Qt::Key_Up || key == Qt::Key_Down)
            vlc_->Audio().SetVolume(vlc_->Audio().Volume() +
                                    (key == Qt::Key_Up ? VolumeStep : -VolumeStep));
        else if (key == Qt::Key_M)
            vlc_->Audio().ToggleMute();
    });
}

void TfrmPlayer::SeekBy(double milliseconds) {
    IVLCInput& input = vlc_->Input();
    const double length = input.Length();
    if (length <= 0)
        return;
    input.SetTime(std::clamp(input.Time() + milliseconds, 0.0, length));
}

// A double-click on the video toggles full screen.
bool TfrmPlayer::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        PlayerViewFullScreenCommandExecute();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

TfrmPlayer* CurrentPlayerWindow() {
    return currentWindow.data();
}

// One playback at a time: the playing window is closed and gone, and its extractor has ended,
// before another starts (bounded), so the two never share the multipart downloader or the
// extractor's progress file.
static void ClosePlayingWindow() {
    QPointer<TfrmPlayer> previous = currentWindow;
    if (!previous)
        return;
    previous->btnCloseClick();
    const QDeadlineTimer deadline(PreviousWindowWaitMs);
    while (previous && !deadline.hasExpired()) {
        WaitProcessingMessages(20);
        // A deletion posted from this level would wait for the outer loop.
        QCoreApplication::sendPostedEvents(previous, QEvent::DeferredDelete);
    }
    // Its extractor follows the progress file the next playback writes: it must end first.
    while (ProcessRunning(TPlayer::LastExtractorProcessId()) && !deadline.hasExpired())
        WaitProcessingMessages(20);
}

TfrmPlayer* NewPlayerWindow() {
    ClosePlayingWindow();
    auto* form = new TfrmPlayer();
    currentWindow = form;
    form->showMaximized();
    return form;
}

TfrmPlayer* OpenPlayerWindow(const QStringList& lines, const QString& description, bool sendInfo) {
    TfrmPlayer* form = NewPlayerWindow();
    form->pnFile->setText(QStringLiteral("  ") + description);
    form->pnFile->setVisible(!form->pnFile->text().trimmed().isEmpty());
    form->SendInfo = sendInfo;
    form->raise();
    form->activateWindow();
    form->PlayLinks(lines);
    return form;
}
