#include "server/metadata/MetadataPages.h"

#include "server/common/PercentDecoding.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr std::string_view PageHead = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">";

} // namespace

std::string HtmlEscape(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            result += "&amp;";
            break;
        case '<':
            result += "&lt;";
            break;
        case '>':
            result += "&gt;";
            break;
        case '"':
            result += "&quot;";
            break;
        default:
            result += c;
        }
    }
    return result;
}

std::string PosterAddress(const MetadataTitle& title, std::string_view baseUrl) {
    return std::string(baseUrl) + "/poster/tt" + title.id + title.posterExtension;
}

std::string TitlePage(const MetadataTitle& title, std::string_view baseUrl) {
    const std::string name = HtmlEscape(title.title);
    const std::string heading =
        title.year.empty() ? name : name + " (" + HtmlEscape(title.year) + ")";
    std::string page(PageHead);
    page += "<title>" + heading + "</title></head>\n<body>\n<h1>" + heading + "</h1>\n";
    if (!title.poster.empty()) {
        page += "<div class=\"poster\"><a name=\"poster\" href=\"" + PosterAddress(title, baseUrl) +
                "\" title=\"" + name + " Poster\"><img border=\"0\" alt=\"" + name +
                " Poster\" src=\"" + PosterAddress(title, baseUrl) + "\"></a></div>\n";
    }
    if (!title.plot.empty())
        page += "<p class=\"plot\">" + HtmlEscape(title.plot) + "</p>\n";
    page += "</body></html>\n";
    return page;
}

std::string SearchPage(const std::vector<const MetadataTitle*>& titles) {
    std::string page(PageHead);
    page += "<title>Search</title></head>\n<body>\n<h1>Titles</h1>\n<ol>\n";
    for (const MetadataTitle* title : titles) {
        page += "<li><a href=\"/title/tt" + title->id + "/\">" + HtmlEscape(title->title) + "</a>";
        if (!title->year.empty())
            page += " (" + HtmlEscape(title->year) + ")";
        page += "</li>\n";
    }
    page += "</ol>\n";
    // The words are not echoed: a "/tt" typed into the search would read as a title link.
    page += "<p class=\"count\">" + std::to_string(titles.size()) +
            " titles found</p>\n</body></html>\n";
    return page;
}

std::string NotFoundPage(std::string_view what) {
    return std::string(PageHead) + "<title>Not found</title></head>\n<body><h1>Not found</h1><p>" +
           HtmlEscape(what) + "</p></body></html>\n";
}

SearchQuery ParseSearchQuery(std::string_view target) {
    SearchQuery query;
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos)
        return query;
    std::string_view rest = target.substr(question + 1);
    while (!rest.empty()) {
        const std::size_t end = rest.find(';');
        const std::string_view part = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (part.starts_with("q=")) {
            query.words = PercentDecode(part.substr(2));
        } else if (part.starts_with("mx=")) {
            const std::string_view digits = part.substr(3);
            std::size_t value = 0;
            const auto [ptr, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), value);
            if (error == std::errc() && ptr == digits.data() + digits.size())
                query.max = std::clamp<std::size_t>(value, 1, MetadataLibrary::MaxSearchResults);
        }
    }
    return query;
}
