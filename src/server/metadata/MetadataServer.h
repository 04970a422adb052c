#pragma once

#include "server/metadata/MetadataHttpServer.h"
#include "server/metadata/MetadataLibrary.h"

#include <httplib.h>
#include <string>

// The site on HTTP: GET /title/tt<ID>/, GET /poster/tt<ID>.<ext>, GET /find?q=...;mx=N;tt=on.
class MetadataServer {
public:
    // `publicUrl` is the base address the pages name the posters with; empty: "http://" and
    // the address the server is bound to.
    MetadataServer(MetadataLibrary library, std::string publicUrl);

    // Binds to host:port (port 0: any free port); returns the bound port, or -1.
    int Bind(const std::string& host, int port);
    // Serves until Stop; false when serving failed.
    bool Run();
    // May be called from any thread.
    void Stop();

    const std::string& PublicUrl() const { return publicUrl_; }

private:
    void GetTitle(const httplib::Request& request, httplib::Response& response) const;
    void GetPoster(const httplib::Request& request, httplib::Response& response) const;
    void GetSearch(const httplib::Request& request, httplib::Response& response) const;

    MetadataLibrary library_;
    std::string publicUrl_;
    MetadataHttpServer http_;
};
