#pragma once

#include <QString>

// The addresses the movie pages use, each written the one way the browser reports it back, so
// that a harmless difference in a setting (a trailing "/", an explicit default port, capitals
// in the host) cannot make an address fail to match.

// `address` as QUrl writes it: fully encoded, scheme and host in lower case, no default port,
// no trailing "/".
QString NormalizedSiteAddress(const QString& address);

// The IMDb web site: the metadata site of TAVILON_METADATA_URL, normalised.
QString ImdbSiteAddress();

// The title prefix of the site `site`: `site` + "/title/tt".
QString ImdbTitlePrefix(const QString& site);

// The title page of `imdbId`: the title prefix, the id and "/". An id that is not made of
// digits goes into no address: it opens the page of the empty id, prefix + "/".
QString ImdbTitlePage(const QString& site, const QString& imdbId);

// The IMDb id an address gives: `location` with every occurrence of `prefix` removed (letter
// case ignored), then every "/" removed. Nothing further is checked: a sub-page keeps its name
// attached ("9100002plotsummary"), a foreign address is all of it without its slashes.
QString ImdbIdFromAddress(const QString& location, const QString& prefix);

// The file host's abuse-report page: its site's root path with the query "c=abuse".
QString AbuseReportAddress();
