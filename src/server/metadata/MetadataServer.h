#pragma once

#include "server/common/RunHttpServer.h"
#include "server/metadata/MetadataHttpServer.h"
#include "server/metadata/MetadataLibrary.h"

#include <httplib.h>
#include <string>

// The site on HTTP: GET /title/tt<ID>/, GET /title/tt<ID>/plotsummary, GET /poster/tt<ID>.<ext>,
// GET /find?q=...;mx=N;tt=on.
class MetadataServer {
public:
    // `publicUrl` is the base address the pages name the posters with; empty: "http://" and
    // the address the server is bound to.
    MetadataServer(MetadataLibrary library, std::string publicUrl);

    // The site, to be served by RunHttpServer with Hooks().
    httplib::Server& Http() { return http_; }
    // Once bound, the site without a public address of its own takes the bound one.
    TServeHooks Hooks();

    const std::string& PublicUrl() const { return publicUrl_; }

private:
    void GetTitle(const httplib::Request& request, httplib::Response& response) const;
    void GetPlotSummary(const httplib::Request& request, httplib::Response& response) const;
    void GetPoster(const httplib::Request& request, httplib::Response& response) const;
    void GetSearch(const httplib::Request& request, httplib::Response& response) const;

    MetadataLibrary library_;
    std::string publicUrl_;
    MetadataHttpServer http_;
};
