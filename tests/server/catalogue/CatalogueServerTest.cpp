#include "server/catalogue/CatalogueTestServer.h"
#include "soap/ESoapFault.h"
#include "soap/TSoapMessage.h"
#include "soap/TSoapTransport.h"
#include "soap/TSoapWriter.h"

#include <gtest/gtest.h>

namespace {

const QString Namespace = QStringLiteral("urn:tavilon");

testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\"" << text << "\" lacks \"" << part << "\"";
}

QStringList Record(const QString& imdbId, const QStringList& links, const QString& file = {}) {
    QStringList lines = {QStringLiteral("password:pw"),  QStringLiteral("size:700 MB"),
                         QStringLiteral("file:") + file, QStringLiteral("quality:DVD Rip"),
                         QStringLiteral("lang:Spanish"), QStringLiteral("imdbid:") + imdbId};
    return lines + links;
}

// Runs against a fresh catalogue of the backend named by the parameter.
class CatalogueServerTest : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        QString problem;
        bool skip = false;
        database_ = cattest::NewDatabase(QString::fromLatin1(GetParam()), problem, skip);
        if (database_.isEmpty() && skip)
            GTEST_SKIP() << problem.toStdString();
        ASSERT_FALSE(database_.isEmpty()) << problem.toStdString();
        Start();
    }

    void Start() {
        server_ = cattest::StartServer(database_);
        ASSERT_FALSE(server_->Url().isEmpty()) << server_->StandardError().toStdString();
        endpoint_ = server_->Url() + cattest::EndpointPath;
    }

    TSoapHttpAnswer Post(const QByteArray& body) {
        return TSoapTransport::Post(endpoint_, QStringLiteral("x"), body);
    }

    // The "return" of a successful call.
    TSoapValue Call(const QString& operation, const TSoapParameters& parameters, TSoapType type) {
        const TSoapHttpAnswer answer = Post(TSoapWriter::Request(Namespace, operation, parameters));
        const TSoapMessage message = TSoapMessage::Parse(answer.Body);
        message.ThrowIfFault();
        EXPECT_EQ(answer.Status, 200);
        EXPECT_EQ(message.BodyElement().Name, operation + QStringLiteral("Response"));
        return message.Decode(message.BodyElement().Children.at(0), type, QStringLiteral("return"));
    }

    // The fault string of a call that must fail, with its HTTP status.
    QString FaultOf(const QByteArray& body, long expectedStatus = 500) {
        const TSoapHttpAnswer answer = Post(body);
        EXPECT_EQ(answer.Status, expectedStatus);
        try {
            TSoapMessage::Parse(answer.Body).ThrowIfFault();
        } catch (const ESoapFault& fault) {
            return fault.FaultString();
        }
        ADD_FAILURE() << "no fault: " << answer.Body.toStdString();
        return QString();
    }

    QStringList GetVideos(qint64 start, qint64 limit, const QString& search, qint64 type) {
        return Call(QStringLiteral("getvideos"),
                    {{QStringLiteral("start"), TSoapValue::Long(start)},
                     {QStringLiteral("limit"), TSoapValue::Long(limit)},
                     {QStringLiteral("search"), TSoapValue::String(search)},
                     {QStringLiteral("type"), TSoapValue::Long(type)}},
                    TSoapType::StringArray)
            .Items;
    }

    QString Register(const QString& title, const QStringList& lines) {
        return Call(QStringLiteral("registervideo"),
                    {{QStringLiteral("title"), TSoapValue::String(title)},
                     {QStringLiteral("links"), TSoapValue::StringArray(lines)}},
                    TSoapType::String)
            .Text;
    }

    bool Check(const QStringList& lines) {
        return Call(QStringLiteral("checkvideo"),
                    {{QStringLiteral("links"), TSoapValue::StringArray(lines)}}, TSoapType::Boolean)
            .Flag;
    }

    QString database_;
    QString endpoint_;
    std::unique_ptr<testenv::TServerProcess> server_;
};

TEST_P(CatalogueServerTest, RegisterCheckAndFetchAVideo) {
    const QStringList links = {QStringLiteral("http://fh/?d=B"), QStringLiteral("http://fh/?d=A")};
    const QString id =
        Register(QStringLiteral("The Big Lake"), Record(QStringLiteral("0123456"), links));
    EXPECT_EQ(id, QStringLiteral("1"));

    // The same set of links in another order, with other key lines, is the same video; a
    // second registration keeps its id.
    EXPECT_TRUE(
        Check({QStringLiteral("password:"), QStringLiteral("size:1 MB"), links[1], links[0]}));
    EXPECT_FALSE(Check({QStringLiteral("password:pw"), links[0]}));
    EXPECT_FALSE(Check({QStringLiteral("password:pw")}));
    EXPECT_EQ(Register(QStringLiteral("Again"), Record(QStringLiteral("1"), links)), id);

    const TSoapHttpAnswer lines = TSoapTransport::Get(endpoint_ + QStringLiteral("?id=") + id);
    EXPECT_EQ(lines.Status, 200);
    EXPECT_EQ(lines.Body, QByteArray("password:pw\r\nhttp://fh/?d=B\r\nhttp://fh/?d=A\r\n"));

    const QStringList page = GetVideos(0, 18, QString(), 0);
    EXPECT_EQ(page,
              QStringList({QStringLiteral("1"),
                           QStringLiteral("The Big Lake@@@0123456@@@1@@@DVD Rip@@@Spanish")}));
}

TEST_P(CatalogueServerTest, OrdersPagesAndSearches) {
    // Titles, years from the file names; plays counted by checkvideo.
    const struct {
        const char* title;
        const char* file;
        int plays;
    } videos[] = {{"Zeta Spider-Man", "Zeta.2001.avi", 0},
                  {"alpha Ocean's Eleven", "Alpha.1999.avi", 2},
                  {"Beta \"Quoted\"", "Beta.2010.avi", 1},
                  {"Gamma", "Gamma.avi", 0}};
    int n = 0;
    for (const auto& video : videos) {
        const QStringList links = {QStringLiteral("http://fh/%1").arg(++n)};
        Register(QString::fromUtf8(video.title),
                 Record(QString::number(n), links, QString::fromLatin1(video.file)));
        for (int play = 0; play < video.plays; ++play)
            Check(links);
    }
    ASSERT_EQ(cattest::RunCatalogue({QStringLiteral("rate"), QStringLiteral("4"),
                                     QStringLiteral("9"), QStringLiteral("--db"), database_})
                  .ExitCode,
              0);
    const auto ids = [](const QStringList& page) {
        QStringList result;
        for (const QString& entry : page.mid(1))
            result.append(entry.section(QStringLiteral("@@@"), 2, 2));
        return result.join(u',');
    };
    const struct {
        qint64 type;
        const char* ids;
    } orders[] = {{0, "4,3,2,1"}, {1, "2,3,4,1"}, {2, "4,3,2,1"}, {3, "3,1,2,4"}, {4, "2,3,4,1"}};
    for (const auto& order : orders) {
        const QStringList page = GetVideos(0, 10, QString(), order.type);
        EXPECT_EQ(page.value(0), QStringLiteral("4"));
        EXPECT_EQ(ids(page).toStdString(), order.ids) << "order " << order.type;
    }
    // Pages: start and limit; a start past the end gives the total alone; the limit is capped.
    EXPECT_EQ(ids(GetVideos(1, 2, QString(), 0)), QStringLiteral("3,2"));
    EXPECT_EQ(GetVideos(10, 2, QString(), 0), QStringList({QStringLiteral("4")}));
    EXPECT_EQ(GetVideos(-5, 100000, QString(), 0).size(), 5);
    EXPECT_EQ(GetVideos(0, 0, QString(), 0), QStringList({QStringLiteral("4")}));

    // Plain words, prefixes, no regard to case; query syntax is literal text.
    const struct {
        const char* search;
        const char* ids;
    } searches[] = {{"  ocean  ", "2"},
                    {"OCEAN'S", "2"},
                    {"Spider-Man", "1"},
                    {"spi", "1"},
                    {"\"", "4,3,2,1"},
                    {"\"quoted", "3"},
                    {"ocean zeta", ""},
                    {"eleven alpha", "2"},
                    {"NOT gamma", ""},
                    {"gam*", "4"},
                    {"'; DROP TABLE videos; --", ""},
                    {"", "4,3,2,1"}};
    for (const auto& search : searches) {
        const QStringList page = GetVideos(0, 10, QString::fromUtf8(search.search), 0);
        EXPECT_EQ(ids(page).toStdString(), search.ids) << search.search;
        EXPECT_EQ(page.value(0).toInt(), page.size() - 1) << search.search;
    }
    EXPECT_EQ(GetVideos(0, 10, QString(), 0).value(0), QStringLiteral("4"));
}

TEST_P(CatalogueServerTest, SearchesFollowChangesMadeByOtherProcesses) {
    Register(QStringLiteral("Gamma One"),
             Record(QStringLiteral("1"), {QStringLiteral("http://fh/g1")}));
    Register(QStringLiteral("Gamma Two"),
             Record(QStringLiteral("2"), {QStringLiteral("http://fh/g2")}));
    const auto titles = [&](qint64 type) {
        QStringList result;
        for (const QString& entry : GetVideos(0, 10, QStringLiteral("gamma"), type).mid(1))
            result.append(entry.section(QStringLiteral("@@@"), 0, 0));
        return result;
    };
    EXPECT_EQ(titles(2), QStringList({QStringLiteral("Gamma Two"), QStringLiteral("Gamma One")}));
    ASSERT_EQ(cattest::RunCatalogue({QStringLiteral("rate"), QStringLiteral("1"),
                                     QStringLiteral("8"), QStringLiteral("--db"), database_})
                  .ExitCode,
              0);
    EXPECT_EQ(titles(2), QStringList({QStringLiteral("Gamma One"), QStringLiteral("Gamma Two")}));
    ASSERT_EQ(
        cattest::RunCatalogue({QStringLiteral("add"), QStringLiteral("--title"),
                               QStringLiteral("Gamma Three"), QStringLiteral("--link"),
                               QStringLiteral("http://fh/g3"), QStringLiteral("--db"), database_})
            .ExitCode,
        0);
    EXPECT_EQ(titles(0), QStringList({QStringLiteral("Gamma Three"), QStringLiteral("Gamma Two"),
                                      QStringLiteral("Gamma One")}));
    EXPECT_TRUE(Check({QStringLiteral("http://fh/g2")}));
    EXPECT_EQ(titles(1).value(0), QStringLiteral("Gamma Two"));
}

TEST_P(CatalogueServerTest, BadRequestsGetFaultsWithAClearString) {
    const auto envelope = [](const QString& inner) {
        return (QStringLiteral("<?xml version=\"1.0\"?><e:Envelope "
                               "xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                               "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                               "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
                               "xmlns:enc=\"http://schemas.xmlsoap.org/soap/encoding/\"><e:Body>") +
                inner + QStringLiteral("</e:Body></e:Envelope>"))
            .toUtf8();
    };
    const QString goodParameters =
        QStringLiteral("<limit xsi:type=\"xsd:long\">5</limit><search xsi:type=\"xsd:string\"/>"
                       "<type xsi:type=\"xsd:long\">0</type>");
    const auto getvideos = [&](const QString& start, const QString& rest) {
        return envelope(QStringLiteral("<m:getvideos xmlns:m=\"urn:tavilon\">") + start + rest +
                        QStringLiteral("</m:getvideos>"));
    };
    const auto registration = [&](const QString& title, const QStringList& lines) {
        return TSoapWriter::Request(Namespace, QStringLiteral("registervideo"),
                                    {{QStringLiteral("title"), TSoapValue::String(title)},
                                     {QStringLiteral("links"), TSoapValue::StringArray(lines)}});
    };
    const QStringList links = {QStringLiteral("http://fh/1")};
    const struct {
        const char* name;
        QByteArray body;
        const char* fault;
    } cases[] = {
        {"malformed XML", "<e:Envelope><e:Body>", "Malformed SOAP message"},
        {"not an envelope", "<?xml version=\"1.0\"?><a/>", "not a SOAP 1.1 Envelope"},
        {"entity declarations",
         "<?xml version=\"1.0\"?><!DOCTYPE e [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
         "\"&a;&a;&a;&a;&a;&a;&a;\">]><e:Envelope "
         "xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>&b;</e:Body></e:Envelope>",
         "document type declarations"},
        {"external entity",
         "<?xml version=\"1.0\"?><!DOCTYPE e [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
         "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>&x;"
         "</e:Body></e:Envelope>",
         "document type declarations"},
        {"unknown operation", envelope(QStringLiteral("<m:dropall xmlns:m=\"urn:tavilon\"/>")),
         "The operation \"dropall\" is unknown"},
        {"wrong namespace", envelope(QStringLiteral("<m:getvideos xmlns:m=\"urn:other\"/>")),
         "in the namespace \"urn:other\" is unknown"},
        {"missing parameter", getvideos(QString(), goodParameters),
         "The parameter \"start\" of getvideos is missing"},
        {"missing type", getvideos(QStringLiteral("<start>0</start>"), goodParameters),
         "The parameter \"start\" must be xsd:long, not no xsi:type"},
        {"wrong type",
         getvideos(QStringLiteral("<start xsi:type=\"xsd:string\">0</start>"), goodParameters),
         "The parameter \"start\" must be xsd:long, not \"string\""},
        {"not a number",
         getvideos(QStringLiteral("<start xsi:type=\"xsd:long\">ten</start>"), goodParameters),
         "The parameter \"start\" \"ten\" is not an xsd:long"},
        {"unknown order",
         getvideos(QStringLiteral("<start xsi:type=\"xsd:long\">0</start>"),
                   QStringLiteral("<limit xsi:type=\"xsd:long\">5</limit><search "
                                  "xsi:type=\"xsd:string\"/><type xsi:type=\"xsd:long\">7</type>")),
         "The sort order 7 is unknown"},
        {"array expected",
         TSoapWriter::Request(Namespace, QStringLiteral("checkvideo"),
                              {{QStringLiteral("links"), TSoapValue::String("x")}}),
         "must be an array of xsd:string"},
        {"no links", registration(QStringLiteral("T"), Record(QStringLiteral("1"), {})),
         "The record has no links"},
        {"empty imdbid", registration(QStringLiteral("T"), Record(QString(), links)),
         "The record has no IMDb id"},
        {"imdbid with letters",
         registration(QStringLiteral("T"), Record(QStringLiteral("tt01"), links)),
         "The IMDb id \"tt01\" is not made of digits only"},
        {"separator in title",
         registration(QStringLiteral("A@@@B"), Record(QStringLiteral("1"), links)),
         "must not contain \"@@@\""},
        {"line break in a line",
         registration(QStringLiteral("T"),
                      Record(QStringLiteral("1"), {QStringLiteral("http://a\r\nhttp://b")})),
         "holds a line break"},
    };
    for (const auto& badCase : cases)
        EXPECT_TRUE(Contains(FaultOf(badCase.body).toStdString(), badCase.fault)) << badCase.name;

    const QByteArray huge = getvideos(QStringLiteral("<start xsi:type=\"xsd:long\">0</start>"),
                                      QString(2 * 1024 * 1024, u'x'));
    EXPECT_TRUE(Contains(FaultOf(huge, 413).toStdString(), "larger than 1048576 bytes"));

    // The plain GET: 400 with a reason, 404 for unknown ids and paths.
    const struct {
        const char* query;
        long status;
    } gets[] = {{"?id=abc", 400},
                {"?id=-1", 400},
                {"?id=", 400},
                {"", 400},
                {"?id=99999999999999999999", 400},
                {"?id=42", 404}};
    for (const auto& get : gets)
        EXPECT_EQ(TSoapTransport::Get(endpoint_ + QString::fromLatin1(get.query)).Status,
                  get.status)
            << get.query;
    EXPECT_EQ(TSoapTransport::Get(server_->Url() + QStringLiteral("/other.php")).Status, 404);

    // Still serving after all of it.
    EXPECT_EQ(GetVideos(0, 5, QString(), 0), QStringList({QStringLiteral("0")}));
}

TEST_P(CatalogueServerTest, KeepsTheCatalogueAcrossARestart) {
    const QString id = Register(QStringLiteral("Kept"),
                                Record(QStringLiteral("77"), {QStringLiteral("http://fh/k")}));
    ASSERT_EQ(server_->Stop(), 0);
    Start();
    EXPECT_EQ(TSoapTransport::Get(endpoint_ + QStringLiteral("?id=") + id).Body,
              QByteArray("password:pw\r\nhttp://fh/k\r\n"));
    EXPECT_TRUE(Check({QStringLiteral("http://fh/k")}));
}

TEST_P(CatalogueServerTest, AdministrationCommands) {
    const QStringList db = {QStringLiteral("--db"), database_};
    const cattest::TCommandResult added = cattest::RunCatalogue(
        QStringList{QStringLiteral("add"), QStringLiteral("--title"), QStringLiteral("Added"),
                    QStringLiteral("--imdb"), QStringLiteral("tt0099"), QStringLiteral("--link"),
                    QStringLiteral("http://fh/1"), QStringLiteral("--link"),
                    QStringLiteral("http://fh/2")} +
        db);
    ASSERT_EQ(added.ExitCode, 0) << added.Err.toStdString();
    EXPECT_EQ(added.Out, QStringLiteral("1\n"));
    EXPECT_EQ(cattest::RunCatalogue(QStringList{QStringLiteral("add"), QStringLiteral("--title"),
                                                QStringLiteral("No links")} +
                                    db)
                  .ExitCode,
              2);

    const QString importFile = testenv::MakeTempDir() + QStringLiteral("/videos.txt");
    QFile file(importFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("# two videos\ntitle:First\nyear:1990\nimdbid:5\nhttp://fh/a\n\n"
               "title:Second\nrating:7\nhttp://fh/b\nhttp://fh/c\n\ntitle:Added "
               "again\nhttp://fh/2\nhttp://fh/1\n");
    file.close();
    const cattest::TCommandResult imported =
        cattest::RunCatalogue(QStringList{QStringLiteral("import"), importFile} + db);
    ASSERT_EQ(imported.ExitCode, 0) << imported.Err.toStdString();
    EXPECT_EQ(imported.Out, QStringLiteral("2 added, 1 known already\n"));

    const QStringList listed = cattest::RunCatalogue(QStringList{QStringLiteral("list")} + db)
                                   .Out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(listed.size(), 3);
    EXPECT_EQ(listed[0], QStringLiteral("1\tAdded\t0099\t\t\t0\t0\t0"));
    EXPECT_EQ(listed[1], QStringLiteral("2\tFirst\t5\t\t\t0\t0\t1990"));
    EXPECT_EQ(listed[2], QStringLiteral("3\tSecond\t\t\t\t0\t7\t0"));

    EXPECT_EQ(cattest::RunCatalogue(QStringList{QStringLiteral("remove"), QStringLiteral("2")} + db)
                  .ExitCode,
              0);
    EXPECT_EQ(cattest::RunCatalogue(QStringList{QStringLiteral("remove"), QStringLiteral("2")} + db)
                  .ExitCode,
              1);
    EXPECT_EQ(
        cattest::RunCatalogue(
            QStringList{QStringLiteral("rate"), QStringLiteral("1"), QStringLiteral("11")} + db)
            .ExitCode,
        2);
    EXPECT_EQ(GetVideos(0, 10, QString(), 0).value(0), QStringLiteral("2"));
    EXPECT_EQ(GetVideos(0, 10, QStringLiteral("first"), 0), QStringList({QStringLiteral("0")}));
    const cattest::TCommandResult help =
        cattest::RunCatalogue({QStringLiteral("add"), QStringLiteral("--help")});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_TRUE(Contains(help.Out.toStdString(), "--link"));
}

INSTANTIATE_TEST_SUITE_P(Backends, CatalogueServerTest, testing::Values("sqlite", "postgresql"));

} // namespace
