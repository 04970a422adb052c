#include "player/TVLCPlayer.h"

#include "core/Errors.h"
#include "playback/TGrowingFileSource.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>
#include <vlc/vlc.h>

// The media callbacks libVLC's input thread calls with the item's TGrowingFileSource. None of
// them lets an exception out into libVLC.
namespace {

// libVLC's prefetch thread between its demuxer and the media callbacks reads in blocks of this
// many bytes (its default is the whole file). A read waits until its whole block is written, so
// a large block would hold back data already on disk.
constexpr const char* PrefetchReadSizeOption = "--prefetch-read-size=65536";

int OpenMedia(void* opaque, void** data, uint64_t* size) noexcept {
    auto* source = static_cast<TGrowingFileSource*>(opaque);
    *data = source;
    *size = std::numeric_limits<uint64_t>::max();
    try {
        if (!source->Open())
            return -1;
        if (const int64_t finalSize = source->FinalSize(); finalSize >= 0)
            *size = static_cast<uint64_t>(finalSize);
        return 0;
    } catch (...) {
        return -1;
    }
}

ssize_t ReadMedia(void* data, unsigned char* buffer, size_t length) noexcept {
    constexpr size_t maxLength = std::numeric_limits<ssize_t>::max();
    try {
        const auto count = static_cast<TGrowingFileSource*>(data)->Read(
            reinterpret_cast<char*>(buffer), static_cast<int64_t>(std::min(length, maxLength)));
        return static_cast<ssize_t>(count);
    } catch (...) {
        return -1;
    }
}

int SeekMedia(void* data, uint64_t offset) noexcept {
    if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return -1;
    try {
        return static_cast<TGrowingFileSource*>(data)->Seek(static_cast<int64_t>(offset)) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

void CloseMedia(void* data) noexcept {
    try {
        static_cast<TGrowingFileSource*>(data)->Close();
    } catch (...) {
    }
}

// The media is open once the player plays it: its demuxer has read what it needs at the
// start, so from now on a read beyond the written part waits for its data.
void MediaStateChanged(const libvlc_event_t* event, void* opaque) noexcept {
    if (event->u.media_state_changed.new_state != libvlc_Playing)
        return;
    try {
        static_cast<TGrowingFileSource*>(opaque)->SetOpened();
    } catch (...) {
    }
}

// The libVLC options: no title over the picture, no statistics, small prefetch blocks, the
// sound dropped (the machines the client runs on here have no sound device). Without a window
// the picture is decoded and dropped; with one, libVLC picks the display that suits the X11
// window (libvlc_media_player_set_xwindow overrides any --vout choice).
std::vector<const char*> LibVlcArguments(TVLCPlayer::TVideoOutput output) {
    std::vector<const char*> arguments = {"--no-video-title-show", "--no-snapshot-preview",
                                          "--no-stats", PrefetchReadSizeOption, "--aout=adummy"};
    if (output == TVLCPlayer::TVideoOutput::None)
        arguments.push_back("--vout=vdummy");
    return arguments;
}

QString LibVlcError(const char* what) {
    const char* message = libvlc_errmsg();
    return message ? QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromUtf8(message))
                   : QString::fromLatin1(what);
}

} // namespace

void TVLCPlayer::TInstanceRelease::operator()(libvlc_instance_t* instance) const {
    libvlc_release(instance);
}

void TVLCPlayer::TMediaPlayerRelease::operator()(libvlc_media_player_t* player) const {
    libvlc_media_player_release(player);
}

TVLCPlayer::TVLCPlayer(TVideoOutput output) {
    const std::vector<const char*> arguments = LibVlcArguments(output);
    instance_.reset(libvlc_new(static_cast<int>(arguments.size()), arguments.data()));
    if (!instance_)
        throw Exception(LibVlcError("VLC could not be started"));
    player_.reset(libvlc_media_player_new(instance_.get()));
    if (!player_)
        throw Exception(LibVlcError("VLC could not create its player"));
    // Clicks and keys go to the window around the picture, not to VLC.
    libvlc_video_set_mouse_input(player_.get(), 0);
    libvlc_video_set_key_input(player_.get(), 0);
}

TVLCPlayer::~TVLCPlayer() {
    for (const auto& source : items_)
        source->Abort();
    libvlc_media_player_stop(player_.get());
}

void TVLCPlayer::SetVideoWindow(uint32_t windowId) {
    libvlc_media_player_set_xwindow(player_.get(), windowId);
}

int TVLCPlayer::ItemCount() {
    return static_cast<int>(items_.size());
}

int TVLCPlayer::Add(const QString& fileName) {
    if (ItemCount() >= MaxItems)
        throw Exception(QStringLiteral("The VLC playlist is full"));
    items_.push_back(std::make_unique<TGrowingFileSource>(fileName));
    return ItemCount() - 1;
}

void TVLCPlayer::PlayItem(int item) {
    TGrowingFileSource& source = Source(item);
    StopMedia();
    currentItem_ = item;
    StartMedia(source);
}

void TVLCPlayer::Play() {
    if (currentItem_ < 0) {
        PlayItem(0);
        return;
    }
    if (libvlc_media_player_play(player_.get()) != 0)
        throw Exception(LibVlcError("VLC could not play"));
}

void TVLCPlayer::TogglePause() {
    RequireInput();
    libvlc_media_player_pause(player_.get());
}

void TVLCPlayer::Stop() {
    StopMedia();
}

double TVLCPlayer::Position() {
    return std::max(0.0f, libvlc_media_player_get_position(player_.get()));
}

void TVLCPlayer::SetPosition(double position) {
    if (!std::isfinite(position))
        throw Exception(QStringLiteral("Invalid VLC position"));
    RequireInput();
    libvlc_media_player_set_position(player_.get(),
                                     static_cast<float>(std::clamp(position, 0.0, 1.0)));
}

double TVLCPlayer::Time() {
    return static_cast<double>(
        std::max<libvlc_time_t>(0, libvlc_media_player_get_time(player_.get())));
}

void TVLCPlayer::SetTime(double milliseconds) {
    if (!std::isfinite(milliseconds))
        throw Exception(QStringLiteral("Invalid VLC time"));
    RequireInput();
    constexpr double latestMilliseconds = 1e15; // far beyond any media, within libvlc_time_t
    const double bounded = std::clamp(milliseconds, 0.0, latestMilliseconds);
    libvlc_media_player_set_time(player_.get(), static_cast<libvlc_time_t>(std::llround(bounded)));
}

double TVLCPlayer::Length() {
    return static_cast<double>(
        std::max<libvlc_time_t>(0, libvlc_media_player_get_length(player_.get())));
}

int TVLCPlayer::Volume() {
    return volume_;
}

void TVLCPlayer::SetVolume(int volume) {
    volume_ = std::clamp(volume, 0, MaxVolume);
    ApplyAudioSettings();
}

bool TVLCPlayer::Mute() {
    return mute_;
}

void TVLCPlayer::SetMute(bool mute) {
    mute_ = mute;
    ApplyAudioSettings();
}

void TVLCPlayer::ToggleMute() {
    SetMute(!mute_);
}

TGrowingFileSource& TVLCPlayer::Source(int item) {
    if (item < 0 || item >= ItemCount())
        throw Exception(QStringLiteral("VLC has no playlist item %1").arg(item));
    return *items_[static_cast<size_t>(item)];
}

const TGrowingFileSource& TVLCPlayer::Source(int item) const {
    return const_cast<TVLCPlayer*>(this)->Source(item);
}

void TVLCPlayer::StartMedia(TGrowingFileSource& source) {
    libvlc_media_t* media = libvlc_media_new_callbacks(instance_.get(), OpenMedia, ReadMedia,
                                                       SeekMedia, CloseMedia, &source);
    if (!media)
        throw Exception(LibVlcError("VLC could not open the item"));
    libvlc_event_attach(libvlc_media_event_manager(media), libvlc_MediaStateChanged,
                        MediaStateChanged, &source);
    libvlc_media_player_set_media(player_.get(), media);
    libvlc_media_release(media); // the player holds it now
    if (libvlc_media_player_play(player_.get()) != 0)
        throw Exception(LibVlcError("VLC could not play the item"));
    ApplyAudioSettings();
}

// The audio output may not exist yet (nothing plays); the settings are applied again whenever
// an item starts, so a failure here is no error.
void TVLCPlayer::ApplyAudioSettings() {
    libvlc_audio_set_volume(player_.get(), volume_);
    libvlc_audio_set_mute(player_.get(), mute_ ? 1 : 0);
}

// The current item's source is aborted first, so that a read waiting for data ends and the
// stop returns at once; once the input thread is gone the source may be read again.
void TVLCPlayer::StopMedia() {
    TGrowingFileSource* source =
        currentItem_ >= 0 ? items_[static_cast<size_t>(currentItem_)].get() : nullptr;
    if (source)
        source->Abort();
    libvlc_media_player_stop(player_.get());
    if (source)
        source->ClearAbort();
}

void TVLCPlayer::RequireInput() const {
    switch (libvlc_media_player_get_state(player_.get())) {
    case libvlc_Opening:
    case libvlc_Buffering:
    case libvlc_Playing:
    case libvlc_Paused:
        return;
    default:
        throw Exception(QStringLiteral("VLC plays nothing"));
    }
}
