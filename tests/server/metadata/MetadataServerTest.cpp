#include "support/ServerProcess.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <httplib.h>
#include <string>
#include <vector>

namespace {

const QByteArray JpegPoster("\xFF\xD8\xFF\xE0 not really a picture");
const QByteArray PngPoster("\x89PNG\r\n\x1A\n also not one");

void WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// A small site: two posters of different kinds, one title without a poster, and folders that
// are not titles.
QString MakeSite() {
    const QString dir = testenv::MakeTempDir(QStringLiteral("site"));
    WriteFile(dir + "/tt0000001/info.txt", "title: The Big Lake\nyear: 2008\nplot: Water.\n");
    WriteFile(dir + "/tt0000001/poster.jpg", JpegPoster);
    WriteFile(dir + "/tt0000002/info.txt", "title: Lake House\n");
    WriteFile(dir + "/tt0000003/info.txt", "title: Tom & Jerry\n");
    WriteFile(dir + "/tt0000003/poster.png", PngPoster);
    WriteFile(dir + "/tt0000004/poster.jpg", JpegPoster); // no info file: skipped
    WriteFile(dir + "/ttabc/info.txt", "title: Not an id\n");
    WriteFile(dir + "/other/info.txt", "title: Not a title folder\n");
    return dir;
}

// What a scraper that knows the site reads from a title page: the first src attribute after
// the poster anchor, unchanged.
std::string PosterOf(const std::string& page) {
    const std::size_t anchor = page.find("<a name=\"poster\"");
    if (anchor == std::string::npos)
        return {};
    const std::size_t src = page.find("src=\"", anchor);
    if (src == std::string::npos)
        return {};
    const std::size_t quote = page.find('"', src + 5);
    return quote == std::string::npos ? std::string() : page.substr(src + 5, quote - src - 5);
}

// The id of the first "/tt<ID>/" of a search page.
std::string FirstTitleOf(const std::string& page) {
    const std::size_t tt = page.find("/tt");
    if (tt == std::string::npos)
        return {};
    const std::size_t slash = page.find('/', tt + 3);
    return slash == std::string::npos ? std::string() : page.substr(tt + 3, slash - tt - 3);
}

// The ids of the "/title/tt<ID>/" links of a page, in order.
std::vector<std::string> TitleLinksOf(const std::string& page) {
    static const std::string link = "href=\"/title/tt";
    std::vector<std::string> ids;
    for (std::size_t at = page.find(link); at != std::string::npos; at = page.find(link, at + 1)) {
        const std::size_t start = at + link.size();
        const std::size_t end = page.find_first_not_of("0123456789", start);
        if (end != std::string::npos && page.compare(end, 2, "/\"") == 0)
            ids.push_back(page.substr(start, end - start));
    }
    return ids;
}

class MetadataServer : public testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<testenv::TServerProcess>(
            QStringLiteral("tavilon-metadata"), QStringList{QStringLiteral("--dir"), MakeSite()});
        ASSERT_FALSE(server->Url().isEmpty()) << server->StandardError().toStdString();
        client = std::make_unique<httplib::Client>(server->Url().toStdString());
        // The targets go out as written, ";" and "&" included, as our client sends them.
        client->set_url_encode(false);
    }

    httplib::Result Get(const std::string& target) { return client->Get(target.c_str()); }

    std::unique_ptr<testenv::TServerProcess> server;
    std::unique_ptr<httplib::Client> client;
};

TEST_F(MetadataServer, TitlePagesNameTheirPosterByAbsoluteAddressAndServeIt) {
    const struct {
        const char* id;
        const char* extension;
        const char* type;
        const QByteArray& content;
    } cases[] = {{"0000001", ".jpg", "image/jpeg", JpegPoster},
                 {"0000003", ".png", "image/png", PngPoster}};
    for (const auto& c : cases) {
        const auto page = Get(std::string("/title/tt") + c.id + "/");
        ASSERT_TRUE(page) << c.id;
        EXPECT_EQ(page->status, 200);
        const std::string poster = PosterOf(page->body);
        EXPECT_EQ(poster, server->Url().toStdString() + "/poster/tt" + c.id + c.extension);
        const auto picture = Get(poster.substr(server->Url().size()));
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->status, 200);
        EXPECT_EQ(picture->get_header_value("Content-Type"), c.type);
        EXPECT_EQ(QByteArray::fromStdString(picture->body), c.content);
    }
    const auto withoutSlash = Get("/title/tt0000001");
    ASSERT_TRUE(withoutSlash);
    EXPECT_EQ(withoutSlash->status, 200);
}

TEST_F(MetadataServer, ATitleWithoutPosterHasNoAnchorAndUnknownAddressesAreNotFound) {
    const auto page = Get("/title/tt0000002/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("Lake House"), std::string::npos);
    EXPECT_EQ(PosterOf(page->body), "");
    for (const char* target :
         {"/title/tt0000004/", "/title/tt9999999/", "/title/ttabc/", "/title/tt../",
          "/title/tt9999999/plotsummary", "/title/tt0000004/plotsummary", "/poster/tt0000001.png",
          "/poster/tt0000002.jpg", "/poster/tt0000004.jpg", "/poster/../../etc/passwd", "/"}) {
        const auto answer = Get(target);
        ASSERT_TRUE(answer) << target;
        EXPECT_EQ(answer->status, 404) << target;
    }
}

TEST_F(MetadataServer, TitlePagesShowTheTitleAndLinkTheNextTitlesAndTheirPlotSummary) {
    // The site holds 0000001 to 0000003; the related titles are the next ids, going round.
    const struct {
        const char* id;
        std::vector<const char*> texts;
        std::vector<std::string> related;
    } cases[] = {
        {"0000001",
         {"The Big Lake", "2008", "Water.", "Lake House", "Tom &amp; Jerry"},
         {"0000002", "0000003"}},
        {"0000002", {"Lake House", "Tom &amp; Jerry", "The Big Lake"}, {"0000003", "0000001"}},
        {"0000003", {"Tom &amp; Jerry", "The Big Lake", "Lake House"}, {"0000001", "0000002"}},
    };
    for (const auto& c : cases) {
        const auto page = Get(std::string("/title/tt") + c.id + "/");
        ASSERT_TRUE(page) << c.id;
        ASSERT_EQ(page->status, 200) << c.id;
        for (const char* text : c.texts)
            EXPECT_NE(page->body.find(text), std::string::npos) << c.id << ": " << text;
        EXPECT_EQ(page->body.find("Tom & Jerry"), std::string::npos) << c.id;
        EXPECT_EQ(page->body.find("<script"), std::string::npos) << c.id;
        EXPECT_EQ(TitleLinksOf(page->body), c.related) << c.id;
        for (const std::string& other : c.related) {
            const auto linked = Get("/title/tt" + other + "/");
            ASSERT_TRUE(linked);
            EXPECT_EQ(linked->status, 200) << other;
        }

        const std::string summary = std::string("/title/tt") + c.id + "/plotsummary";
        EXPECT_NE(page->body.find("href=\"" + summary + "\""), std::string::npos) << c.id;
        const auto sub = Get(summary);
        ASSERT_TRUE(sub) << summary;
        EXPECT_EQ(sub->status, 200) << summary;
        EXPECT_NE(sub->body.find(c.texts[0]), std::string::npos) << summary;
        EXPECT_NE(sub->body.find(std::string("href=\"/title/tt") + c.id + "/\""), std::string::npos)
            << summary << " links back";
        EXPECT_EQ(PosterOf(sub->body), "") << summary;
    }
    const auto plot = Get("/title/tt0000001/plotsummary");
    ASSERT_TRUE(plot);
    EXPECT_NE(plot->body.find("Water."), std::string::npos);
}

TEST_F(MetadataServer, SearchListsMatchingTitlesAsTitleLinksExactMatchFirst) {
    const struct {
        const char* target;
        const char* first;
    } cases[] = {
        {"/find?q=lake;mx=20;tt=on", "0000001"},       // both match, in id order
        {"/find?q=lake+house;mx=20;tt=on", "0000002"}, // the exact title comes first
        {"/find?q=lake+house", "0000002"},             // as the pages' search box sends it
        {"/find?q=LAKE+big;mx=20;tt=on", "0000001"},
        {"/find?q=Tom+&+Jerry;mx=20;tt=on", "0000003"},
        {"/find?q=nothing;mx=20;tt=on", ""},
        {"/find?q=%2Ftt77%2F;mx=20;tt=on", ""}, // the words are not echoed into the page
        {"/find?q=;mx=20;tt=on", ""},
    };
    for (const auto& c : cases) {
        const auto page = Get(c.target);
        ASSERT_TRUE(page) << c.target;
        EXPECT_EQ(page->status, 200) << c.target;
        EXPECT_EQ(FirstTitleOf(page->body), c.first) << c.target;
    }
    const auto both = Get("/find?q=lake;mx=20;tt=on");
    ASSERT_TRUE(both);
    EXPECT_NE(both->body.find("/title/tt0000002/"), std::string::npos);
    const auto one = Get("/find?q=lake;mx=1;tt=on");
    ASSERT_TRUE(one);
    EXPECT_EQ(one->body.find("/title/tt0000002/"), std::string::npos);
}

TEST_F(MetadataServer, StopsCleanlyOnTerminationSignal) {
    EXPECT_EQ(server->Stop(), 0);
}

TEST(MetadataProgram, ExplainsItselfAndRefusesBadArguments) {
    const QString program = testenv::BinDir() + QStringLiteral("/tavilon-metadata");
    const struct {
        QStringList arguments;
        int exitCode;
        const char* text;
    } cases[] = {
        {{"--help"}, 0, "--dir DIR"},
        {{}, 2, "--dir is required"},
        {{"--dir", "/nonexistent/folder"}, 2, "not a folder"},
        {{"--dir", "/tmp", "--listen", "127.0.0.1"}, 2, "ADDRESS:PORT"},
        {{"--bogus"}, 2, "unknown argument"},
    };
    for (const auto& c : cases) {
        QProcess process;
        process.start(program, c.arguments);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), c.exitCode) << c.arguments.join(' ').toStdString();
        const QString output =
            QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
        EXPECT_TRUE(output.contains(QLatin1String(c.text))) << output.toStdString();
    }
}

} // namespace
