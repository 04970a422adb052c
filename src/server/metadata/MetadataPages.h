#pragma once

#include "server/metadata/MetadataLibrary.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The site's pages: plain HTML with the site's style inside, no scripts. Every text taken from
// the library is escaped.
//
// What the site's scrapers rely on: a title page carries the poster as the first src attribute
// after the anchor <a name="poster"> (an absolute address on the site's public base address),
// and no title without a poster has that anchor; a search page lists its titles as links
// "/title/tt<ID>/", and no "/tt" stands before the first one (no title links in the frame, no
// stylesheet path).

constexpr std::size_t DefaultSearchResults = 20;

// The text with &, <, >, " and ' written as character references.
std::string HtmlEscape(std::string_view text);

// The poster's address of a title that has one: base + "/poster/tt<ID>" + extension.
std::string PosterAddress(const MetadataTitle& title, std::string_view baseUrl);
// The address of a title's plot summary: "/title/tt<ID>/plotsummary".
std::string PlotSummaryAddress(const MetadataTitle& title);

// The title page: poster, name, year and plot, a link to the plot summary, and links to the
// `related` titles (with their posters when they have one).
std::string TitlePage(const MetadataTitle& title, const std::vector<const MetadataTitle*>& related,
                      std::string_view baseUrl);
// The plot summary of a title, linking back to its title page. It has no poster anchor.
std::string PlotSummaryPage(const MetadataTitle& title);
// The words are not echoed: a "/tt" typed into a search would read as a title link.
std::string SearchPage(const std::vector<const MetadataTitle*>& titles);
std::string NotFoundPage(std::string_view what);

// The search words and result count of a request target "/find?q=WORDS;mx=N;tt=on". The
// parameters are separated by ";" (so a "&" stays part of the words); in the words "+" is a
// blank and %XX a byte. mx is bounded to 1 .. MetadataLibrary::MaxSearchResults.
struct SearchQuery {
    std::string words;
    std::size_t max = DefaultSearchResults;
};
SearchQuery ParseSearchQuery(std::string_view target);
