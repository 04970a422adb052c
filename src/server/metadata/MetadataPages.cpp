#include "server/metadata/MetadataPages.h"

#include "server/common/PercentDecoding.h"

#include <algorithm>
#include <charconv>

namespace {

// The site's look, in every page: no file to fetch, nothing that names a title.
constexpr std::string_view StyleSheet = R"(
* { box-sizing: border-box; }
body { margin: 0; background: #f3f1ec; color: #222; font: 16px/1.5 "DejaVu Sans", Arial, sans-serif; }
a { color: #1a5fa8; text-decoration: none; }
a:hover { text-decoration: underline; }
header.site { background: #23272e; color: #f3f1ec; }
header.site .bar { max-width: 1040px; margin: 0 auto; padding: 12px 24px; display: flex;
  align-items: center; justify-content: space-between; }
header.site .brand { font-size: 20px; font-weight: bold; letter-spacing: 0.5px; }
form.search input { width: 280px; padding: 6px 10px; border: 0; border-radius: 3px; font-size: 15px; }
form.search button { padding: 6px 14px; border: 0; border-radius: 3px; background: #e2b340;
  font-size: 15px; font-weight: bold; cursor: pointer; }
main { max-width: 1040px; margin: 0 auto; padding: 24px; }
h1 { margin: 0 0 12px; font-size: 30px; line-height: 1.2; }
h1 .year { color: #666; font-weight: normal; }
h2 { margin: 24px 0 8px; font-size: 19px; border-bottom: 2px solid #e2b340; padding-bottom: 4px; }
article.title { display: flex; gap: 32px; align-items: flex-start; }
.poster { flex: 0 0 300px; }
.poster img { display: block; width: 300px; height: auto; border: 0; box-shadow: 0 2px 8px #0004; }
.poster.none { height: 450px; display: flex; align-items: center; justify-content: center;
  background: #d8d4cb; color: #666; }
.details { flex: 1; min-width: 0; }
nav.tabs { display: flex; gap: 4px; margin: 8px 0 0; }
nav.tabs a, nav.tabs span { padding: 6px 14px; border-radius: 3px 3px 0 0; background: #e4e0d7; }
nav.tabs span { background: #fff; font-weight: bold; }
.panel { background: #fff; padding: 16px 20px; border-radius: 0 3px 3px 3px; }
.panel h2:first-child { margin-top: 0; }
p.plot { margin: 0; font-size: 17px; }
.none { color: #666; font-style: italic; }
dl.facts { display: grid; grid-template-columns: max-content auto; gap: 4px 16px; margin: 16px 0 0; }
dl.facts dt { color: #666; }
dl.facts dd { margin: 0; }
section.related ul { list-style: none; margin: 0; padding: 0; display: flex; gap: 24px; }
section.related li { width: 150px; }
section.related img, section.related .thumb { display: block; width: 150px; height: 225px;
  margin-bottom: 6px; background: #d8d4cb; box-shadow: 0 1px 4px #0003; }
section.related .year { display: block; color: #666; font-size: 14px; }
ol.results { background: #fff; margin: 0; padding: 12px 20px 12px 48px; border-radius: 3px; }
ol.results li { padding: 6px 0; border-bottom: 1px solid #eee; font-size: 17px; }
ol.results li:last-child { border-bottom: 0; }
ol.results .year { color: #666; }
p.count { color: #666; }
)";

// The frame every page shares: the style, and a header with the site's name and a search box.
// The search box sends "/find?q=WORDS", the one parameter the search needs. Nothing in it
// names a title, so the first "/tt" of a search page is its first result.
std::string Page(std::string_view title, std::string_view content) {
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>";
    page += title;
    page += "</title>\n<style>";
    page += StyleSheet;
    page += "</style></head>\n<body>\n<header class=\"site\"><div class=\"bar\">"
            "<span class=\"brand\">Title library</span>"
            "<form class=\"search\" action=\"/find\" method=\"get\">"
            "<input type=\"search\" name=\"q\" placeholder=\"Find a title\" "
            "aria-label=\"Words of a title\"> <button type=\"submit\">Search</button>"
            "</form></div></header>\n<main>\n";
    page += content;
    page += "</main>\n</body></html>\n";
    return page;
}

std::string TitleAddress(const MetadataTitle& title) {
    return "/title/tt" + title.id + "/";
}

std::string Heading(const MetadataTitle& title) {
    return title.year.empty() ? HtmlEscape(title.title)
                              : HtmlEscape(title.title) + " (" + HtmlEscape(title.year) + ")";
}

// "<h1>" with the name (a link when `link` is set) and the year beside it.
std::string NameHeading(const MetadataTitle& title, std::string_view link) {
    std::string name = "<span class=\"name\">" + HtmlEscape(title.title) + "</span>";
    if (!link.empty())
        name = "<a href=\"" + std::string(link) + "\">" + name + "</a>";
    std::string heading = "<h1>" + name;
    if (!title.year.empty())
        heading += " <span class=\"year\">(" + HtmlEscape(title.year) + ")</span>";
    return heading + "</h1>\n";
}

// The tabs of a title's pages; `current` is the one shown, as text rather than a link.
std::string Tabs(const MetadataTitle& title, std::string_view current) {
    const struct {
        std::string_view label;
        std::string address;
    } tabs[] = {{"Overview", TitleAddress(title)}, {"Plot summary", PlotSummaryAddress(title)}};
    std::string nav = "<nav class=\"tabs\">";
    for (const auto& tab : tabs)
        nav += tab.label == current
                   ? "<span>" + std::string(tab.label) + "</span>"
                   : "<a href=\"" + tab.address + "\">" + std::string(tab.label) + "</a>";
    return nav + "</nav>\n";
}

std::string PlotParagraph(const MetadataTitle& title) {
    return title.plot.empty() ? "<p class=\"plot none\">No plot has been written yet.</p>\n"
                              : "<p class=\"plot\">" + HtmlEscape(title.plot) + "</p>\n";
}

std::string RelatedSection(const std::vector<const MetadataTitle*>& related,
                           std::string_view baseUrl) {
    if (related.empty())
        return {};
    std::string section = "<section class=\"related\"><h2>More titles</h2>\n<ul>\n";
    for (const MetadataTitle* other : related) {
        section += "<li><a href=\"" + TitleAddress(*other) + "\">";
        if (other->poster.empty())
            section += "<span class=\"thumb\"></span>";
        else
            section += "<img alt=\"\" src=\"" + HtmlEscape(PosterAddress(*other, baseUrl)) + "\">";
        section += "<span class=\"name\">" + HtmlEscape(other->title) + "</span>";
        if (!other->year.empty())
            section += "<span class=\"year\">" + HtmlEscape(other->year) + "</span>";
        section += "</a></li>\n";
    }
    return section + "</ul></section>\n";
}

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
        case '\'':
            result += "&#39;";
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

std::string PlotSummaryAddress(const MetadataTitle& title) {
    return TitleAddress(title) + "plotsummary";
}

std::string TitlePage(const MetadataTitle& title, const std::vector<const MetadataTitle*>& related,
                      std::string_view baseUrl) {
    const std::string name = HtmlEscape(title.title);
    std::string content = "<article class=\"title\">\n";
    // The poster comes first: its picture is the first src attribute after the anchor.
    if (title.poster.empty()) {
        content += "<div class=\"poster none\">No poster</div>\n";
    } else {
        const std::string poster = HtmlEscape(PosterAddress(title, baseUrl));
        content += "<div class=\"poster\"><a name=\"poster\" href=\"" + poster + "\" title=\"" +
                   name + " Poster\"><img alt=\"" + name + " Poster\" src=\"" + poster +
                   "\"></a></div>\n";
    }
    content += "<div class=\"details\">\n" + NameHeading(title, {}) + Tabs(title, "Overview") +
               "<div class=\"panel\">\n" + PlotParagraph(title) + "<dl class=\"facts\">";
    if (!title.year.empty())
        content += "<dt>Year</dt><dd>" + HtmlEscape(title.year) + "</dd>";
    content += "<dt>Title id</dt><dd>tt" + title.id + "</dd></dl>\n<p><a href=\"" +
               PlotSummaryAddress(title) + "\">Read the plot summary</a></p>\n</div>\n</div>\n" +
               "</article>\n" + RelatedSection(related, baseUrl);
    return Page(Heading(title), content);
}

std::string PlotSummaryPage(const MetadataTitle& title) {
    const std::string content =
        "<article class=\"summary\">\n" + NameHeading(title, TitleAddress(title)) +
        Tabs(title, "Plot summary") + "<div class=\"panel\">\n" + "<h2>Plot summary</h2>\n" +
        PlotParagraph(title) + "</div>\n</article>\n";
    return Page(Heading(title) + " - Plot summary", content);
}

std::string SearchPage(const std::vector<const MetadataTitle*>& titles) {
    std::string content = "<h1>Titles</h1>\n";
    if (!titles.empty()) {
        content += "<ol class=\"results\">\n";
        for (const MetadataTitle* title : titles) {
            content +=
                "<li><a href=\"" + TitleAddress(*title) + "\">" + HtmlEscape(title->title) + "</a>";
            if (!title->year.empty())
                content += " <span class=\"year\">(" + HtmlEscape(title->year) + ")</span>";
            content += "</li>\n";
        }
        content += "</ol>\n";
    }
    // The words are not echoed: a "/tt" typed into the search would read as a title link.
    content += "<p class=\"count\">" +
               (titles.size() == 1 ? std::string("1 title found")
                                   : std::to_string(titles.size()) + " titles found") +
               "</p>\n";
    return Page("Search", content);
}

std::string NotFoundPage(std::string_view what) {
    return Page("Not found", "<h1>Not found</h1>\n<p>" + HtmlEscape(what) + "</p>\n");
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
