#pragma once

#include <QString>

// Cover pictures from the metadata web site (MetadataUrl()), kept as files in the images folder,
// and the lookup of a title's IMDb id. Every request is a synchronous GET on a fresh HTTP client
// with its standard settings; window messages are dispatched while it waits.

// Largest title or search page read, and largest poster saved.
constexpr qint64 MaxPageSize = 4 * 1024 * 1024;
constexpr qint64 MaxPosterSize = 16 * 1024 * 1024;
// Longest IMDb id used for a file name or an address.
constexpr int MaxImdbIdLength = 20;

// True when `id` is 1 to MaxImdbIdLength ASCII digits: only such an id names a cover file or
// goes into an address.
bool IsImdbId(const QString& id);

// The cover file of an id: the images folder, the id, ".jpg" (whatever the picture's format).
QString CoverFileName(const QString& imagesDir, const QString& id);

// Gets the title page of `id`, finds its poster and saves it as the id's cover file. Returns the
// poster's address, empty when the page has none (then no file is written). A failed request
// raises an error and leaves no cover file behind.
QString DownloadCover(const QString& id, const QString& imagesDir);

// The value of the first src attribute after the poster anchor <a name="poster">, unchanged;
// empty when there is no anchor, no src after it or no closing quote.
QString FindPosterUrl(const QString& html);

// Gets `address` into the id's cover file. The picture is written under a temporary name and
// takes the cover file's name only once complete, so a failed download leaves nothing behind.
void SavePoster(const QString& address, const QString& imagesDir, const QString& id);

// The IMDb id of the first title the site's search finds for `title`, or empty. Blanks of the
// title become "+"; nothing else is encoded.
QString SearchImdbId(const QString& title);

// The text between the first "/tt" of a search page and the next "/"; empty when either is
// missing.
QString FindFirstTitleId(const QString& html);
