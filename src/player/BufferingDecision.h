#pragma once

#include <QString>

// The player window's arithmetic, kept apart from the window so that it can be checked on its
// own: when playback must wait for the download, how far a wait has come, and the texts and
// roundings the window shows.

// Whole number nearest to `value`, a half going to the even neighbour.
int RoundHalfEven(double value);

// "hh:mm:ss" with at least two digits each; 0 gives "00:00:00".
QString FormatSeconds(int seconds);

// What the video timer knows on a tick.
struct TBufferingInput {
    bool volumeInTransfer = false; // the multipart downloader has an open target file
    bool userPaused = false;       // the user paused playback (the play action shows "Play")
    double position = 0;           // VLC's position, 0 to 1
    double length = 0;             // VLC's length in milliseconds; 0 while unknown
    double overallPercent = 0;     // the download's overall percentage, 0 to 100
};

struct TBufferingDecision {
    bool buffer = false;
    // The margin between the download and the position was computed (a volume in transfer, a
    // known length, a position above 0), also while the user has paused; `margin` holds it.
    bool hasMargin = false;
    double margin = 0;
};

// The play position must stay this far (as a fraction) behind the downloaded share ...
inline constexpr double BufferingMargin = 0.01;
// ... which is counted this many percentage points short of the download's percentage.
inline constexpr double OverallPercentReserve = 0.3;
// While VLC knows no length, buffering begins at this position.
inline constexpr double UnknownLengthBufferPosition = 0.95;

// Whether the tick pauses playback for buffering. Never while no volume is in transfer, and
// never while the user has paused (a buffering would resume the video under the bar).
TBufferingDecision DecideBuffering(const TBufferingInput& input);

// A buffering ends once the download has gained this many percentage points ...
inline constexpr double ResumeGainPercent = 0.5;
// ... shown on a bar of this range.
inline constexpr int BufferBarMax = 500;

struct TBufferProgress {
    int bar = 0;         // position of the buffering bar, 0 to BufferBarMax
    bool resume = false; // the wait is over
};

// How far the buffering that began at `startPercent` has come at `overallPercent`.
TBufferProgress BufferProgress(double overallPercent, double startPercent);
