#include "catalogue/ReleaseName.h"

#include "catalogue/TCatalogueEntry.h"
#include "catalogue/TVideoRecord.h"

#include <gtest/gtest.h>

namespace {

struct ReleaseCase {
    const char* path;
    const char* title;
    const char* quality;
    const char* lang;
};

void PrintTo(const ReleaseCase& releaseCase, std::ostream* out) {
    *out << releaseCase.path;
}

class ParseReleaseNameTest : public testing::TestWithParam<ReleaseCase> {};

// The parser's odd results are how it is meant to behave; the user corrects the title later.
TEST_P(ParseReleaseNameTest, GivesTheTitleQualityAndLanguage) {
    const ReleaseCase& c = GetParam();
    QStringList lines = {QStringLiteral("password:x")};
    QString title;
    ParseReleaseName(QString::fromUtf8(c.path), lines, title);
    EXPECT_EQ(title.toStdString(), c.title);
    QString fileName = QString::fromUtf8(c.path);
    fileName = fileName.mid(std::max(fileName.lastIndexOf(u'\\'), fileName.lastIndexOf(u'/')) + 1);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("password:x"));
    EXPECT_EQ(lines[1], QStringLiteral("file:") + fileName);
    EXPECT_EQ(lines[2].toStdString(), std::string("quality:") + c.quality);
    EXPECT_EQ(lines[3].toStdString(), std::string("lang:") + c.lang);
}

INSTANTIATE_TEST_SUITE_P(
    DescribedCases, ParseReleaseNameTest,
    testing::Values(
        ReleaseCase{"C:\\v\\The.Big.Lake.2008.DVDRip.XviD.avi", "The Big Lake", "DVD Rip",
                    "English"},
        ReleaseCase{"Apollo 13 (1995) DVDRip.avi", "Apollo  ", "DVD Rip", "English"},
        ReleaseCase{"Birthday Party.avi", "Birtay Party", "HD Rip", "English"},
        ReleaseCase{"Sunny Days.avi", "Sunñ Days", "", "English"},
        ReleaseCase{"Baby Steps.avi", "Ba", "", "English"},
        ReleaseCase{"Online Dating.avi", "On Dating", "", "English"},
        ReleaseCase{"Lost.S01E02.HDTV.avi", "Lost SE", "HD TV", "English"},
        ReleaseCase{"Green Valley 1x12.avi", "Green Valley 1x", "", "English"},
        ReleaseCase{"Mi.Casa.Temporada.1.Capitulo.3.Spanish.avi", "Mi Casa", "", "Spanish"},
        ReleaseCase{"Tres amigos.Español.avi", "Tres amigos", "", "Spanish"},
        ReleaseCase{"Tres amigos.ESPAÑOL.avi", "Tres amigos ESPAÑOL", "", "English"},
        ReleaseCase{"Wild.Ride.DVDRip.DVDRip.avi", "Wild Ride  DVDRip", "DVD Rip", "English"},
        ReleaseCase{"green.valley.[hdtv].avi", "Green valley ", "HD TV", "English"},
        ReleaseCase{"Alien Planet - Directors Cut.avi", "Alien Planet ", "", "English"},
        ReleaseCase{"Movie - Part Two - Extended.avi", "Movie  Extended", "", "English"},
        ReleaseCase{"Movie www no.avi", "Movie", "", "English"},
        ReleaseCase{"xvid.avi", "", "", "English"}, ReleaseCase{"www.avi", "", "", "English"},
        ReleaseCase{".avi", "", "", "English"}, ReleaseCase{"a.avi", "A", "", "English"},
        // A later quality token overrides an earlier one; the folder of a local path goes.
        ReleaseCase{"/home/u/Film.dvdscr.TeleSync.avi", "Film", "TeleSync", "English"},
        // No extension: the whole name is worked on.
        ReleaseCase{"Plain Name", "Plain Name", "", "English"}));

TEST(RemoveToken, RemovesOnlyTheFirstOccurrenceFoldingOnlyAsciiLetters) {
    QString text = QStringLiteral("A DVDRip and dvdrip");
    EXPECT_TRUE(RemoveToken(text, QStringLiteral("dvdrip")));
    EXPECT_EQ(text, QStringLiteral("A  and dvdrip"));

    QString accented = QStringLiteral("ESPAÑOL");
    EXPECT_FALSE(RemoveToken(accented, QStringLiteral("español")));
    EXPECT_EQ(accented, QStringLiteral("ESPAÑOL"));
}

struct EnclosedCase {
    const char* text;
    const char* open;
    const char* close;
    const char* result;
};

void PrintTo(const EnclosedCase& c, std::ostream* out) {
    *out << c.text;
}

class RemoveEnclosedTest : public testing::TestWithParam<EnclosedCase> {};

TEST_P(RemoveEnclosedTest, RemovesPairsThenKeepsTheLongerSideOfALoneOpen) {
    QString text = QString::fromUtf8(GetParam().text);
    RemoveEnclosed(text, QString::fromUtf8(GetParam().open), QString::fromUtf8(GetParam().close));
    EXPECT_EQ(text.toStdString(), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Cases, RemoveEnclosedTest,
                         testing::Values(EnclosedCase{"a [b] c [d] e", "[", "]", "a  c  e"},
                                         EnclosedCase{"a - b - c - dd", "-", "-", "a  c "},
                                         EnclosedCase{"ab - cde", "-", "-", " cde"},
                                         // Equal length: the text before the lone open stays.
                                         EnclosedCase{"ab-cd", "-", "-", "ab"},
                                         EnclosedCase{"x] (y", "(", ")", "x] "},
                                         EnclosedCase{"www.site.com.Film", "www", "com", ".Film"},
                                         EnclosedCase{"no marks", "[", "]", "no marks"}));

TEST(CatalogueEntry, SplitsAtTheFirstThreeSeparators) {
    const TCatalogueEntry entry =
        TCatalogueEntry::Split(QStringLiteral("Some Title@@@0123456@@@42@@@DVD Rip@@@Spanish"));
    EXPECT_EQ(entry.Title, QStringLiteral("Some Title"));
    EXPECT_EQ(entry.ImdbId, QStringLiteral("0123456"));
    EXPECT_EQ(entry.VideoId(), 42);
    EXPECT_EQ(entry.Description, QStringLiteral("DVD Rip@@@Spanish"));
    EXPECT_EQ(entry.DisplayDescription(), QStringLiteral("DVD Rip - Spanish"));

    const TCatalogueEntry shortEntry = TCatalogueEntry::Split(QStringLiteral("Only@@@x"));
    EXPECT_EQ(shortEntry.Title, QStringLiteral("Only"));
    EXPECT_EQ(shortEntry.ImdbId, QStringLiteral("x"));
    EXPECT_EQ(shortEntry.VideoId(), 0);
    EXPECT_TRUE(shortEntry.Description.isEmpty());
}

TEST(CatalogueEntry, TotalIsElementZeroOrZero) {
    EXPECT_EQ(CatalogueTotal({QStringLiteral("40"), QStringLiteral("a@@@@@@1@@@")}), 40);
    EXPECT_EQ(CatalogueTotal({QStringLiteral("many")}), 0);
    EXPECT_EQ(CatalogueTotal({}), 0);
}

TEST(VideoRecord, KnowsOnlyItsSixKeysAndKeepsLinksInOrder) {
    const TVideoRecord record = TVideoRecord::FromLines(
        {QStringLiteral("password:secret"), QStringLiteral("size:700 MB"),
         QStringLiteral("http://host/b"), QStringLiteral("imdbid:0123"), QStringLiteral(""),
         QStringLiteral("http://host/a"), QStringLiteral("password:later")});
    EXPECT_EQ(record.Password, QStringLiteral("later"));
    EXPECT_EQ(record.Size, QStringLiteral("700 MB"));
    EXPECT_EQ(record.ImdbId, QStringLiteral("0123"));
    EXPECT_EQ(record.Links,
              QStringList({QStringLiteral("http://host/b"), QStringLiteral("http://host/a")}));
    EXPECT_EQ(record.CheckLines(),
              QStringList({QStringLiteral("password:later"), QStringLiteral("size:700 MB"),
                           QStringLiteral("http://host/b"), QStringLiteral("http://host/a")}));
    EXPECT_EQ(record.RegistrationLines().mid(0, 6),
              QStringList({QStringLiteral("password:later"), QStringLiteral("size:700 MB"),
                           QStringLiteral("file:"), QStringLiteral("quality:"),
                           QStringLiteral("lang:"), QStringLiteral("imdbid:0123")}));
}

TEST(VideoRecord, PlayerReadingTakesEveryOtherLineAsALink) {
    QString password;
    QStringList links;
    SplitVideoLines({QStringLiteral("password:a"), QStringLiteral("http://x/1"),
                     QStringLiteral("size:1 MB"), QStringLiteral("password:b")},
                    password, links);
    EXPECT_EQ(password, QStringLiteral("b"));
    EXPECT_EQ(links, QStringList({QStringLiteral("http://x/1"), QStringLiteral("size:1 MB")}));
}

} // namespace
