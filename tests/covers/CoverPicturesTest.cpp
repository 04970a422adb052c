#include "covers/CoverPictures.h"

#include "core/Errors.h"
#include "net/THttpCli.h"
#include "support/ServerProcess.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

TEST(CoverPictures, FindThePosterAddressAfterThePosterAnchor) {
    const struct {
        const char* html;
        const char* address;
    } cases[] = {
        {R"(<a name="poster" href="x"><img src="http://h/p.jpg" alt=""></a>)", "http://h/p.jpg"},
        {R"(<img src="before.jpg"><a name="poster"><img src="after.jpg">)", "after.jpg"},
        {R"(<a name="poster"><img src="poster.jpg">)", "poster.jpg"}, // a bare name, unchanged
        {R"(<a name="poster"><img src="a&amp;b.jpg">)", "a&amp;b.jpg"},
        {R"(<a name="poster"><img src="">)", ""},
        {R"(<a name='poster'><img src="x.jpg">)", ""}, // the anchor is exact
        {R"(<A NAME="poster"><img src="x.jpg">)", ""},
        {R"(<a name="poster"><img src='x.jpg'>)", ""}, // no src=" after it
        {R"(<a name="poster"><img src="x.jpg)", ""},   // no closing quote
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindPosterUrl(QString::fromUtf8(c.html)), QLatin1String(c.address)) << c.html;
}

TEST(CoverPictures, FindTheFirstTitleIdOfASearchPage) {
    const struct {
        const char* html;
        const char* id;
    } cases[] = {
        {R"(<a href="/title/tt0000042/">A</a><a href="/title/tt0000043/">B</a>)", "0000042"},
        {R"(<link href="/ttstyle/x.css"><a href="/title/tt1/">)",
         "style"},                              // the first "/tt" decides
        {R"(<a href="/title/tt0000042">)", ""}, // no "/" after it
        {"no titles here", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindFirstTitleId(QString::fromUtf8(c.html)), QLatin1String(c.id)) << c.html;
}

TEST(CoverPictures, OnlyDigitsMakeAnImdbId) {
    for (const char* id : {"0000001", "1", "12345678901234567890"})
        EXPECT_TRUE(IsImdbId(QLatin1String(id))) << id;
    for (const char* id : {"", "tt0000001", "../../etc/passwd", "12 3", "١٢٣",
                           "123456789012345678901", "0000001/", "0000001?x"})
        EXPECT_FALSE(IsImdbId(QString::fromUtf8(id))) << id;
}

void WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

class CoverDownload : public testing::Test {
protected:
    void SetUp() override {
        const QString site = testenv::MakeTempDir(QStringLiteral("site"));
        WriteFile(site + "/tt0000011/info.txt", "title: Tom & Jerry\n");
        WriteFile(site + "/tt0000011/poster.jpg", poster);
        WriteFile(site + "/tt0000012/info.txt", "title: What? Now\n");
        WriteFile(site + "/tt0000013/info.txt", "title: The Big Lake\n");
        server = std::make_unique<testenv::TServerProcess>(
            QStringLiteral("tavilon-metadata"), QStringList{QStringLiteral("--dir"), site});
        ASSERT_FALSE(server->Url().isEmpty());
        qputenv("TAVILON_METADATA_URL", server->Url().toUtf8());
        images = testenv::MakeTempDir(QStringLiteral("images")) + QLatin1Char('/');
    }
    void TearDown() override { qunsetenv("TAVILON_METADATA_URL"); }

    QStringList Files() const { return QDir(images).entryList(QDir::Files | QDir::Hidden); }

    const QByteArray poster = QByteArray(5000, 'P');
    std::unique_ptr<testenv::TServerProcess> server;
    QString images;
};

TEST_F(CoverDownload, SavesThePosterOfATitlePageAsTheCoverFile) {
    const QString address = DownloadCover(QStringLiteral("0000011"), images);
    EXPECT_EQ(address, server->Url() + QStringLiteral("/poster/tt0000011.jpg"));
    EXPECT_EQ(Files(), QStringList{QStringLiteral("0000011.jpg")});
    QFile cover(images + QStringLiteral("0000011.jpg"));
    ASSERT_TRUE(cover.open(QIODevice::ReadOnly));
    EXPECT_EQ(cover.readAll(), poster);
}

TEST_F(CoverDownload, APageWithoutPosterGivesNoAddressAndWritesNothing) {
    EXPECT_EQ(DownloadCover(QStringLiteral("0000012"), images), QString());
    EXPECT_TRUE(Files().isEmpty());
}

TEST_F(CoverDownload, AFailedRequestRaisesAndLeavesNoFileBehind) {
    // An unknown title page; a poster address that is a bare name, requested unchanged; a poster
    // that is not on the site.
    EXPECT_THROW(DownloadCover(QStringLiteral("0000099"), images), EHttpException);
    EXPECT_THROW(SavePoster(QStringLiteral("poster.jpg"), images, QStringLiteral("0000011")),
                 Exception);
    EXPECT_THROW(SavePoster(server->Url() + QStringLiteral("/poster/tt0000012.jpg"), images,
                            QStringLiteral("0000012")),
                 EHttpException);
    EXPECT_TRUE(Files().isEmpty()) << Files().join(' ').toStdString();
}

TEST_F(CoverDownload, AnIdThatIsNotOnlyDigitsNamesNoFileAndNoAddress) {
    for (const char* id : {"../x", "0000011/../../y", ""}) {
        EXPECT_THROW(DownloadCover(QLatin1String(id), images), Exception) << id;
        EXPECT_THROW(SavePoster(server->Url() + "/poster/tt0000011.jpg", images, QLatin1String(id)),
                     Exception);
    }
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_TRUE(
        QDir(images + "..").entryList({QStringLiteral("x*"), QStringLiteral("y*")}).isEmpty());
}

TEST_F(CoverDownload, SearchesWithPlusesBetweenWordsAndSendsTheRestUnencoded) {
    EXPECT_EQ(SearchImdbId(QStringLiteral("Tom & Jerry")), QStringLiteral("0000011"));
    EXPECT_EQ(SearchImdbId(QStringLiteral("What? Now")), QStringLiteral("0000012"));
    EXPECT_EQ(SearchImdbId(QStringLiteral("big lake")), QStringLiteral("0000013"));
    EXPECT_EQ(SearchImdbId(QStringLiteral("nothing like it")), QString());
    server->Stop();
    EXPECT_THROW(SearchImdbId(QStringLiteral("Tom")), EHttpException);
}

} // namespace
