#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// A byte count for people: "1023 Byte", "1.46 KB", "1024 KB", "1 GB"; "error" below zero.
QString FormatSize(int64_t size);

// Keeps serving events and timers for `ms` milliseconds, waiting in the event loop meanwhile.
// Any handler of the program may run inside it.
void WaitProcessingMessages(unsigned ms);

// The bytes of an HTTP body as text, read as 8-bit Windows-1252.
QString StreamToText(const QByteArray& stream);

// The user's documents folder, without a trailing separator.
QString GetMyDocumentsPath();

// The text from the last "." of `name` to its end, the dot included; empty without a dot.
QString GetFileExtension(const QString& name);

// Letters, digits and "." stay; every other character up to 255 becomes %XX, a character
// above 255 becomes the %XX of each of its UTF-8 bytes.
QString UrlEncode(const QString& text);

// The 1-based position of the last occurrence of `needle` in `haystack`, 0 when absent.
int LastPos(const QString& needle, const QString& haystack);

// The text from the last "http://" (any letter case) of the trimmed line to its end, or empty.
QString ExtractLink(const QString& line);

// The links of a pasted text, one per line that holds one, in order.
QStringList ExtractLinks(const QString& text);

// The text without leading and trailing blanks and control characters.
QString TrimText(const QString& text);
