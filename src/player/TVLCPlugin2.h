#pragma once

#include "player/IVLCControl2.h"

#include <QWidget>
#include <memory>

class TGrowingFileSource;
class TVLCPlayer;

// The VLC control: a widget showing libVLC 3's picture in a native window of its own, with the
// playlist, input, video and audio objects of IVLCControl2. Its items are files that may still
// be growing; the owner reports how far each is written.
//
// On Qt's X11 platform the picture goes to the X11 output inside the widget; on any other
// platform (offscreen tests) it is decoded and dropped. The sound is always dropped. VLC takes
// neither clicks nor keys: they reach the widget and the window around it. Stopping and
// destroying the control end a read that waits for data first, so neither ever hangs.
class TVLCPlugin2 : public QWidget, public IVLCControl2, public IVLCVideo {
    Q_OBJECT

public:
    // Starts libVLC; raises an Exception when it cannot.
    explicit TVLCPlugin2(QWidget* parent = nullptr);
    ~TVLCPlugin2() override;
    TVLCPlugin2(const TVLCPlugin2&) = delete;
    TVLCPlugin2& operator=(const TVLCPlugin2&) = delete;

    IVLCPlaylist& Playlist() override;
    IVLCInput& Input() override;
    IVLCVideo& Video() override;
    IVLCAudio& Audio() override;

    void SetFinalSize(int item, int64_t size) override;
    void SetWrittenSize(int item, int64_t size) override;
    void SetComplete(int item) override;
    void SetPollFileSize(int item, bool poll) override;

    void ToggleFullScreen() override;

    // The growing file behind an item, to look at (tests, diagnostics); raises for an unknown
    // item.
    const TGrowingFileSource& Source(int item) const;

private:
    TVLCPlayer& RequirePlayer() const;

    QWidget* videoSurface_ = nullptr;
    std::unique_ptr<TVLCPlayer> player_;
};
