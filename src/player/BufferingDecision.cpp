#include "player/BufferingDecision.h"

#include <algorithm>
#include <cmath>
#include <limits>

int RoundHalfEven(double value) {
    if (!std::isfinite(value))
        return 0;
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    // std::nearbyint rounds in the default mode, to nearest with halves to even.
    return static_cast<int>(std::clamp(std::nearbyint(value), lowest, highest));
}

QString FormatSeconds(int seconds) {
    if (seconds == 0)
        return QStringLiteral("00:00:00");
    const int hours = seconds / 3600;
    const int minutes = seconds / 60 - hours * 60;
    const int rest = seconds - hours * 3600 - minutes * 60;
    return QString::asprintf("%.2d:%.2d:%.2d", hours, minutes, rest);
}

TBufferingDecision DecideBuffering(const TBufferingInput& input) {
    TBufferingDecision decision;
    if (!input.volumeInTransfer)
        return decision;
    if (input.length == 0) {
        decision.buffer = !input.userPaused && input.position >= UnknownLengthBufferPosition;
        return decision;
    }
    if (input.position <= 0)
        return decision;
    decision.hasMargin = true;
    decision.margin = (input.overallPercent - OverallPercentReserve) / 100 - input.position;
    decision.buffer = !input.userPaused && decision.margin <= BufferingMargin;
    return decision;
}

TBufferProgress BufferProgress(double overallPercent, double startPercent) {
    const double gain = overallPercent - startPercent;
    TBufferProgress progress;
    progress.bar = std::clamp(RoundHalfEven(gain * 1000), 0, BufferBarMax);
    progress.resume = gain >= ResumeGainPercent || overallPercent >= 100;
    return progress;
}
