#pragma once

#include "player/IVLCControl2.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class TGrowingFileSource;
struct libvlc_instance_t;
struct libvlc_media_player_t;

// libVLC 3 behind the VLC control: one libVLC instance and one media player, whose playlist
// items are growing files read through the media callbacks (TGrowingFileSource). It carries the
// control's playlist, input and audio objects; the widget around it carries the video object.
//
// Every call comes from the GUI thread. libVLC reads the item from its input thread; stopping
// aborts the item's source first, so a read waiting for data ends and the stop never hangs.
class TVLCPlayer final : public IVLCPlaylist, public IVLCInput, public IVLCAudio {
public:
    // Where the picture goes.
    enum class TVideoOutput {
        None,      // decoded and dropped (no display, headless tests)
        X11Window, // into an X11 window given by SetVideoWindow
    };
    // Items a playlist holds at most.
    static constexpr int MaxItems = 1000;

    // Starts libVLC; raises when it cannot.
    explicit TVLCPlayer(TVideoOutput output);
    // Aborts every item's source, stops and releases libVLC.
    ~TVLCPlayer();
    TVLCPlayer(const TVLCPlayer&) = delete;
    TVLCPlayer& operator=(const TVLCPlayer&) = delete;

    // The X11 window the picture is drawn into (X11Window output).
    void SetVideoWindow(uint32_t windowId);

    int ItemCount() override;
    int Add(const QString& fileName) override;
    void PlayItem(int item) override;
    void Play() override;
    void TogglePause() override;
    void Stop() override;

    double Position() override;
    void SetPosition(double position) override;
    double Time() override;
    void SetTime(double milliseconds) override;
    double Length() override;

    int Volume() override;
    void SetVolume(int volume) override;
    bool Mute() override;
    void SetMute(bool mute) override;
    void ToggleMute() override;

    // The growing file of an item; raises for an unknown item.
    TGrowingFileSource& Source(int item);
    const TGrowingFileSource& Source(int item) const;

private:
    struct TInstanceRelease {
        void operator()(libvlc_instance_t* instance) const;
    };
    struct TMediaPlayerRelease {
        void operator()(libvlc_media_player_t* player) const;
    };

    void StartMedia(TGrowingFileSource& source);
    void StopMedia();
    void ApplyAudioSettings();
    void RequireInput() const;

    // Declared first so that the sources outlive the media player that reads them.
    std::vector<std::unique_ptr<TGrowingFileSource>> items_;
    std::unique_ptr<libvlc_instance_t, TInstanceRelease> instance_;
    std::unique_ptr<libvlc_media_player_t, TMediaPlayerRelease> player_;
    int currentItem_ = -1;
    // The control's own volume and mute, applied to libVLC's audio output while it has one.
    int volume_ = 100;
    bool mute_ = false;
};
