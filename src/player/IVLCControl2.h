#pragma once

#include <QString>
#include <cstdint>

// The VLC control as the player window sees it: a control that hands out its playlist, input,
// video and audio objects. Every operation raises an Exception (core/Errors.h) when the
// control cannot carry it out; the window catches around each of its handlers. All of it is
// called on the GUI thread.

// The playlist object: the files to play, and playing them.
class IVLCPlaylist {
public:
    // Above 0 once an item has been added.
    virtual int ItemCount() = 0;
    // Appends the file at the full path `fileName`, which may still be growing (see the
    // control's SetWrittenSize); the new item's id.
    virtual int Add(const QString& fileName) = 0;
    // Starts playing the item.
    virtual void PlayItem(int item) = 0;
    // Resumes after a pause, or starts the current (else the first) item.
    virtual void Play() = 0;
    // Playing becomes paused, paused becomes playing.
    virtual void TogglePause() = 0;
    virtual void Stop() = 0;

protected:
    ~IVLCPlaylist() = default;
};

// The input object: where the playing item is.
class IVLCInput {
public:
    // Fraction 0 to 1 of the media's length; 0 while nothing plays.
    virtual double Position() = 0;
    // Jumps to a fraction 0 to 1 of the media's length.
    virtual void SetPosition(double position) = 0;
    // Milliseconds played; 0 while nothing plays.
    virtual double Time() = 0;
    // Jumps to a time in milliseconds.
    virtual void SetTime(double milliseconds) = 0;
    // Milliseconds; 0 while the media's length is not known (yet).
    virtual double Length() = 0;

protected:
    ~IVLCInput() = default;
};

// The video object.
class IVLCVideo {
public:
    // Switches the window that holds the control between its normal and full-screen state.
    virtual void ToggleFullScreen() = 0;

protected:
    ~IVLCVideo() = default;
};

// The audio object. Volume and mute are the control's settings: they hold whether or not
// something plays, and apply to whatever plays.
class IVLCAudio {
public:
    // Volume in percent, 0 to MaxVolume (100 is the media's own level); bounded there.
    static constexpr int MaxVolume = 200;

    virtual int Volume() = 0;
    virtual void SetVolume(int volume) = 0;
    virtual bool Mute() = 0;
    virtual void SetMute(bool mute) = 0;
    virtual void ToggleMute() = 0;

protected:
    ~IVLCAudio() = default;
};

class IVLCControl2 {
public:
    // Each asks the control for its object anew; raises when the control has none.
    virtual IVLCPlaylist& Playlist() = 0;
    virtual IVLCInput& Input() = 0;
    virtual IVLCVideo& Video() = 0;
    virtual IVLCAudio& Audio() = 0;

    // What the owner knows of an item's file while it is written. The item plays its file as
    // far as it is written and waits there for more, until it is complete.
    // The file's whole size, once known (best before PlayItem: the player learns it at open).
    virtual void SetFinalSize(int item, int64_t size) = 0;
    // The bytes from the file's start up to `size` hold their final content: for an extracted
    // file its size on disk, for a download with holes its unbroken head, never the file size.
    virtual void SetWrittenSize(int item, int64_t size) = 0;
    // Nothing more is written.
    virtual void SetComplete(int item) = 0;
    // Instead of SetWrittenSize, take the file's size on disk (a file written in order).
    virtual void SetPollFileSize(int item, bool poll) = 0;

protected:
    ~IVLCControl2() = default;
};
