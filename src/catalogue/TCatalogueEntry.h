#pragma once

#include <QString>
#include <QStringList>

// One video of a catalogue page: four fields joined by "@@@", cut at the first three
// separators from the left, so that the description may hold further separators.
struct TCatalogueEntry {
    static inline const QString Separator = QStringLiteral("@@@");

    QString Title;
    QString ImdbId;
    QString VideoIdText;
    QString Description;

    // Missing fields are empty.
    static TCatalogueEntry Split(const QString& entry);
    QString Join() const;

    // The video id read as a decimal integer; 0 when it is not one.
    qint64 VideoId() const;
    // The description as it is shown: every "@@@" replaced by " - ".
    QString DisplayDescription() const;
};

// The total of a getvideos answer: its element 0 read as a decimal integer, 0 when it is not
// one or when the answer is empty.
qint64 CatalogueTotal(const QStringList& answer);
