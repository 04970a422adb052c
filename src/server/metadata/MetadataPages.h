#pragma once

#include "server/metadata/MetadataLibrary.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The site's pages. A title page carries the poster as the first src attribute after the
// anchor <a name="poster">, an absolute address on the site's public base address; a search
// page lists its titles as links "/title/tt<ID>/", and no "/tt" stands before the first one.

constexpr std::size_t DefaultSearchResults = 20;

std::string HtmlEscape(std::string_view text);

// The poster's address of a title that has one: base + "/poster/tt<ID>" + extension.
std::string PosterAddress(const MetadataTitle& title, std::string_view baseUrl);

std::string TitlePage(const MetadataTitle& title, std::string_view baseUrl);
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
