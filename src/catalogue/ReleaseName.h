#pragma once

#include <QString>
#include <QStringList>

// Removes the first occurrence of `token` from `text`, comparing with only the letters A to Z
// folded to lower case; true when one was found.
bool RemoveToken(QString& text, const QString& token);

// Removes every stretch from `open` to the next `close`, delimiters included (exact matches).
// An `open` left without a `close` after it is dropped together with the shorter of the texts
// before and after it (on equal length the text after it goes). Nothing is trimmed.
void RemoveEnclosed(QString& text, const QString& open, const QString& close);

// Derives a display title from the file name of a video being played; appends "file:",
// "quality:" and "lang:" lines to `lines`.
void ParseReleaseName(const QString& filePath, QStringList& lines, QString& title);
