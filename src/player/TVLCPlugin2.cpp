#include "player/TVLCPlugin2.h"

#include "core/Errors.h"
#include "playback/TGrowingFileSource.h"
#include "player/TVLCPlayer.h"

#include <QGuiApplication>
#include <QPalette>
#include <QVBoxLayout>

namespace {

// Only Qt's X11 platform gives the native window libVLC's X11 output draws into.
bool OnX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

TVLCPlugin2::TVLCPlugin2(QWidget* parent) : QWidget(parent), videoSurface_(new QWidget(this)) {
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(videoSurface_);

    const bool onX11 = OnX11();
    player_ = std::make_unique<TVLCPlayer>(onX11 ? TVLCPlayer::TVideoOutput::X11Window
                                                 : TVLCPlayer::TVideoOutput::None);
    if (onX11) {
        videoSurface_->setAttribute(Qt::WA_NativeWindow);
        player_->SetVideoWindow(static_cast<uint32_t>(videoSurface_->winId()));
    }
}

// libVLC stops while the native window it draws into still exists.
TVLCPlugin2::~TVLCPlugin2() {
    player_.reset();
}

IVLCPlaylist& TVLCPlugin2::Playlist() {
    return RequirePlayer();
}

IVLCInput& TVLCPlugin2::Input() {
    return RequirePlayer();
}

IVLCVideo& TVLCPlugin2::Video() {
    RequirePlayer();
    return *this;
}

IVLCAudio& TVLCPlugin2::Audio() {
    return RequirePlayer();
}

void TVLCPlugin2::SetFinalSize(int item, int64_t size) {
    RequirePlayer().Source(item).SetFinalSize(size);
}

void TVLCPlugin2::SetWrittenSize(int item, int64_t size) {
    RequirePlayer().Source(item).SetWrittenSize(size);
}

void TVLCPlugin2::SetComplete(int item) {
    RequirePlayer().Source(item).SetComplete();
}

void TVLCPlugin2::SetPollFileSize(int item, bool poll) {
    RequirePlayer().Source(item).SetPollFileSize(poll);
}

// libVLC cannot make an embedded picture full screen; the window holding the control is.
void TVLCPlugin2::ToggleFullScreen() {
    QWidget* holder = window();
    holder->setWindowState(holder->windowState() ^ Qt::WindowFullScreen);
}

const TGrowingFileSource& TVLCPlugin2::Source(int item) const {
    return RequirePlayer().Source(item);
}

TVLCPlayer& TVLCPlugin2::RequirePlayer() const {
    if (!player_)
        throw Exception(QStringLiteral("The VLC control is not available"));
    return *player_;
}
