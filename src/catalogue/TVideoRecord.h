#pragma once

#include <QString>
#include <QStringList>

// A video record: key lines ("password:", "size:", "file:", "quality:", "lang:", "imdbid:",
// a lower-case key and a colon, no space before the value) and link lines (every other line).
struct TVideoRecord {
    static inline const QString PasswordKey = QStringLiteral("password:");
    static inline const QString SizeKey = QStringLiteral("size:");
    static inline const QString FileKey = QStringLiteral("file:");
    static inline const QString QualityKey = QStringLiteral("quality:");
    static inline const QString LangKey = QStringLiteral("lang:");
    static inline const QString ImdbIdKey = QStringLiteral("imdbid:");

    QString Password;
    QString Size;
    QString File;
    QString Quality;
    QString Lang;
    QString ImdbId;
    QStringList Links;

    // Reads record lines: a line that starts with one of the six keys sets that field (the last
    // such line wins); every other line that is not blank is a link, kept in order. Only the six
    // keys count, so an address ("http:...") is never taken for a key.
    static TVideoRecord FromLines(const QStringList& lines);

    // The lines of a registration: "password:", "size:", "file:", "quality:", "lang:",
    // "imdbid:", then the links.
    QStringList RegistrationLines() const;
    // The lines of the question whether a video is known: "password:", "size:", the links.
    QStringList CheckLines() const;
};

// Reads the lines the server answers for one video as the player does: a line starting with
// "password:" sets the password (the last one wins), every other line goes to `links`.
void SplitVideoLines(const QStringList& lines, QString& password, QStringList& links);
