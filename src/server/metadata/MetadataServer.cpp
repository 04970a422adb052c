#include "server/metadata/MetadataServer.h"

#include "server/metadata/MetadataPages.h"

#include <fstream>
#include <sstream>

namespace {

constexpr const char* HtmlType = "text/html; charset=utf-8";
constexpr int ReadTimeoutSeconds = 10;
constexpr std::size_t MaxRequestBody = 64 * 1024;

const char* PictureType(const std::string& extension) {
    if (extension == ".png")
        return "image/png";
    if (extension == ".gif")
        return "image/gif";
    return "image/jpeg";
}

void NotFound(httplib::Response& response, const std::string& what) {
    response.status = 404;
    response.set_content(NotFoundPage(what), HtmlType);
}

} // namespace

MetadataServer::MetadataServer(MetadataLibrary library, std::string publicUrl)
    : library_(std::move(library)), publicUrl_(std::move(publicUrl)) {
    while (!publicUrl_.empty() && publicUrl_.back() == '/')
        publicUrl_.pop_back();
    http_.set_read_timeout(ReadTimeoutSeconds, 0);
    http_.set_payload_max_length(MaxRequestBody);
    http_.Get(R"(/title/tt(\d{1,16})/?)",
              [this](const httplib::Request& q, httplib::Response& r) { GetTitle(q, r); });
    http_.Get(R"(/title/tt(\d{1,16})/plotsummary/?)",
              [this](const httplib::Request& q, httplib::Response& r) { GetPlotSummary(q, r); });
    http_.Get(R"(/poster/tt(\d{1,16})(\.[a-z]{3,4}))",
              [this](const httplib::Request& q, httplib::Response& r) { GetPoster(q, r); });
    http_.Get("/find",
              [this](const httplib::Request& q, httplib::Response& r) { GetSearch(q, r); });
    http_.set_error_handler([](const httplib::Request& q, httplib::Response& r) {
        if (r.body.empty())
            r.set_content(NotFoundPage(q.path), HtmlType);
    });
}

TServeHooks MetadataServer::Hooks() {
    TServeHooks hooks;
    hooks.Bound = [this](const TListenAddress& bound) {
        if (publicUrl_.empty())
            publicUrl_ = "http://" + bound.ToString().toStdString();
    };
    return hooks;
}

void MetadataServer::GetTitle(const httplib::Request& request, httplib::Response& response) const {
    const MetadataTitle* title = library_.Find(request.matches[1].str());
    if (!title)
        return NotFound(response, "No title tt" + request.matches[1].str());
    response.set_content(
        TitlePage(*title, library_.Related(title->id, MetadataLibrary::RelatedTitles), publicUrl_),
        HtmlType);
}

void MetadataServer::GetPlotSummary(const httplib::Request& request,
                                    httplib::Response& response) const {
    const MetadataTitle* title = library_.Find(request.matches[1].str());
    if (!title)
        return NotFound(response, "No title tt" + request.matches[1].str());
    response.set_content(PlotSummaryPage(*title), HtmlType);
}

void MetadataServer::GetPoster(const httplib::Request& request, httplib::Response& response) const {
    const MetadataTitle* title = library_.Find(request.matches[1].str());
    if (!title || title->poster.empty() || title->posterExtension != request.matches[2].str())
        return NotFound(response, "No poster");
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(title->poster, error);
    std::ifstream in(title->poster, std::ios::binary);
    std::ostringstream content;
    if (!error && size <= MetadataLibrary::MaxPosterSize && in)
        content << in.rdbuf();
    if (error || size > MetadataLibrary::MaxPosterSize || !in ||
        content.str().size() > MetadataLibrary::MaxPosterSize) {
        response.status = 500;
        response.set_content(NotFoundPage("Unreadable poster"), HtmlType);
        return;
    }
    response.set_content(content.str(), PictureType(title->posterExtension));
}

void MetadataServer::GetSearch(const httplib::Request& request, httplib::Response& response) const {
    const SearchQuery query = ParseSearchQuery(request.target);
    response.set_content(SearchPage(library_.Search(query.words, query.max)), HtmlType);
}
