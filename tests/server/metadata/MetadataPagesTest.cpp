#include "server/metadata/MetadataPages.h"

#include "support/TestEnvironment.h"

#include <filesystem>
#include <fstream>
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

TEST(MetadataPages, EscapeEveryTextTakenFromTheLibrary) {
    MetadataTitle title;
    title.id = "42";
    title.title = "<b>\"Tom\" & Jerry</b>";
    title.year = "<i>1999</i>";
    title.plot = "a < b";
    MetadataTitle other = title;
    other.id = "43";
    other.poster = "poster.jpg";
    other.posterExtension = ".jpg";
    const struct {
        const char* what;
        std::string page;
    } pages[] = {
        {"title page", TitlePage(title, {&other}, "http://h:1")},
        {"plot summary", PlotSummaryPage(title)},
        {"search page", SearchPage({&title, &other})},
        {"not found", NotFoundPage(title.title)},
    };
    for (const auto& p : pages) {
        EXPECT_NE(p.page.find("&lt;b&gt;&quot;Tom&quot; &amp; Jerry&lt;/b&gt;"), std::string::npos)
            << p.what;
        for (const char* raw : {"<b>", "<i>", "\"Tom\"", "& Jerry", "a < b"})
            EXPECT_EQ(p.page.find(raw), std::string::npos) << p.what << ": " << raw;
        EXPECT_EQ(p.page.find("<script"), std::string::npos) << p.what;
    }
    EXPECT_NE(pages[0].page.find("a &lt; b"), std::string::npos);
    EXPECT_NE(pages[1].page.find("a &lt; b"), std::string::npos);
    // A title without a poster has no anchor, also when the titles it links to show theirs.
    EXPECT_EQ(pages[0].page.find("name=\"poster\""), std::string::npos);
    EXPECT_NE(pages[0].page.find("src=\"http://h:1/poster/tt43.jpg\""), std::string::npos);
}

TEST(MetadataLibrary, RelatedTitlesAreTheNextIdsGoingRoundAndNeverTheTitleItself) {
    const std::filesystem::path dir = testenv::MakeTempDir(QStringLiteral("site")).toStdString();
    for (const char* id : {"0000001", "0000002", "0000003", "0000005"}) {
        std::filesystem::create_directory(dir / (std::string("tt") + id));
        std::ofstream(dir / (std::string("tt") + id) / "info.txt") << "title: T" << id << "\n";
    }
    std::vector<std::string> warnings;
    const MetadataLibrary library = MetadataLibrary::Load(dir, warnings);
    ASSERT_EQ(library.Size(), 4u);
    const struct {
        const char* id;
        std::size_t count;
        std::vector<std::string> related;
    } cases[] = {
        {"0000001", 3, {"0000002", "0000003", "0000005"}},
        {"0000003", 3, {"0000005", "0000001", "0000002"}},
        {"0000005", 2, {"0000001", "0000002"}},
        {"0000002", 10, {"0000003", "0000005", "0000001"}}, // only the other three
        {"0000002", 0, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> ids;
        for (const MetadataTitle* title : library.Related(c.id, c.count))
            ids.push_back(title->id);
        EXPECT_EQ(ids, c.related) << c.id << " " << c.count;
    }

    const std::filesystem::path single = testenv::MakeTempDir(QStringLiteral("one")).toStdString();
    std::filesystem::create_directory(single / "tt7");
    std::ofstream(single / "tt7" / "info.txt") << "title: Alone\n";
    EXPECT_TRUE(MetadataLibrary::Load(single, warnings).Related("7", 3).empty());
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
