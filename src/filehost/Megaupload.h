#pragma once

#include <QString>
#include <QStringList>

// The file host's link check (the login is the account's, TFileHostAccount).

// The 8 characters after the first "d=" (fewer when the text ends sooner), trimmed; empty text
// for a link without "d=".
QString LinkIdFromLink(const QString& link);

// Posts "id0=<id>&id1=<id>&...&" to the file host's link check with a client of its own and
// answers true unless the answer marks some position unavailable ("id<i>=1").
bool CheckLinks(const QStringList& links);
