#pragma once

#include <httplib.h>
#include <string>

// cpp-httplib's server, reading each request line the way the metadata site's clients write
// it: a scraper puts search words into the query unencoded, so a target may hold a second "?"
// ("/find?q=What?+Now;mx=20;tt=on"), which the library refuses. Every "?" after the first is
// read as "%3F". One request per connection.
class MetadataHttpServer : public httplib::Server {
public:
    static constexpr std::size_t MaxRequestLine = 8 * 1024;
    static constexpr int ReadTimeoutMs = 10000;
    static constexpr int WriteTimeoutMs = 10000;

    // The request line with every "?" of the target after the first one escaped as "%3F".
    static std::string EscapeExtraQuestionMarks(const std::string& requestLine);

private:
    bool process_and_close_socket(socket_t sock) override;
};
