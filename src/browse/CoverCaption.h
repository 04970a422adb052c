#pragma once

#include <QFontMetrics>
#include <QString>

// Decodes the numeric character references of a catalogue title: for each code from 1 to 255
// in increasing order, "&#x" + the code as two upper-case hexadecimal digits + ";", then "&#" +
// the code in decimal + ";", become that character. Matches are exact: lower-case hexadecimal
// digits stay as they are.
QString DecodeTitle(const QString& title);

// The caption of a title in a cell `cellWidth` pixels wide: the whole title when it fits with
// "..." after it; otherwise the longest start that fits with "...", cut to at most
// MaxShortCaptionLength characters, followed by "...".
constexpr int MaxShortCaptionLength = 17;
QString ShortenTitle(const QString& title, const QFontMetrics& metrics, int cellWidth);
