#include "server/metadata/MetadataPages.h"

#include <gtest/gtest.h>

namespace {

TEST(MetadataSearchQuery, ReadsTheWordsAndTheCountOfTheSitesQueryForm) {
    struct Case {
        const char* target;
        const char* words;
        std::size_t max;
    };
    const Case cases[] = {
        {"/find?q=big+lake;mx=20;tt=on", "big lake", 20},
        {"/find?q=Tom+&+Jerry;mx=20;tt=on", "Tom & Jerry", 20}, // "&" is not a separator
        {"/find?q=what?;mx=5;tt=on", "what?", 5},
        {"/find?q=caf%C3%A9%2Fx;mx=3", "caf\xC3\xA9/x", 3},
        {"/find?q=bad%zzescape%4", "bad%zzescape%4", 20},
        {"/find?mx=0;q=x", "x", 1},
        {"/find?q=x;mx=99999", "x", MetadataLibrary::MaxSearchResults},
        {"/find?q=x;mx=12abc", "x", 20},
        {"/find", "", 20},
    };
    for (const Case& c : cases) {
        const SearchQuery query = ParseSearchQuery(c.target);
        EXPECT_EQ(query.words, c.words) << c.target;
        EXPECT_EQ(query.max, c.max) << c.target;
    }
}

TEST(MetadataPages, EscapeTheTextsTheyShow) {
    MetadataTitle title;
    title.id = "42";
    title.title = "<b>\"Tom\" & Jerry</b>";
    title.plot = "a < b";
    const std::string page = TitlePage(title, "http://h:1");
    EXPECT_NE(page.find("&lt;b&gt;&quot;Tom&quot; &amp; Jerry&lt;/b&gt;"), std::string::npos);
    EXPECT_NE(page.find("a &lt; b"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_EQ(page.find("name=\"poster\""), std::string::npos) << "no poster, no anchor";
}

} // namespace

#include "server/metadata/MetadataHttpServer.h"

namespace {

TEST(MetadataRequestLine, ReadsEveryQuestionMarkAfterTheFirstAsPartOfTheQuery) {
    const struct {
        const char* line;
        const char* read;
    } cases[] = {
        {"GET /find?q=What?+Now;mx=20;tt=on HTTP/1.0\r\n",
         "GET /find?q=What%3F+Now;mx=20;tt=on HTTP/1.0\r\n"},
        {"GET /find?q=a??b HTTP/1.1\r\n", "GET /find?q=a%3F%3Fb HTTP/1.1\r\n"},
        {"GET /title/tt1/ HTTP/1.0\r\n", "GET /title/tt1/ HTTP/1.0\r\n"},
        {"GET /find?q=x HTTP/1.0?\r\n", "GET /find?q=x HTTP/1.0?\r\n"}, // only the target
        {"GARBAGE", "GARBAGE"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MetadataHttpServer::EscapeExtraQuestionMarks(c.line), c.read) << c.line;
}

} // namespace
