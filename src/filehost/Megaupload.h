#pragma once

#include <QString>
#include <QStringList>

// The requests to the file host's web site apart from the volume transfers: the login form and
// the link check.

// Shows the status window "Login into <domain> as user:<name>" and, when both texts are
// non-empty, posts the login form through the data module's HttpCli; the user cookie arrives
// through its cookie handler. Closes the status window however the request ends; an HTTP
// failure is raised to the caller.
void PostLogin(const QString& userName, const QString& password);

// True while PostLogin's request is open on HttpCli.
bool LoginRequestOpen();

// The 8 characters after the first "d=" (fewer when the text ends sooner), trimmed; empty text
// for a link without "d=".
QString LinkIdFromLink(const QString& link);

// Posts "id0=<id>&id1=<id>&...&" to the file host's link check with a client of its own and
// answers true unless the answer marks some position unavailable ("id<i>=1").
bool CheckLinks(const QStringList& links);
