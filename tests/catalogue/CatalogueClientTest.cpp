#include "api/Ttavilonapi.h"
#include "catalogue/GetCatalogueService.h"
#include "catalogue/TCatalogueEntry.h"
#include "net/THttpCli.h"
#include "platform/OptionDefaults.h"
#include "server/catalogue/CatalogueTestServer.h"
#include "soap/ESoapFault.h"
#include "soap/TSoapClient.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// The catalogue client against tavilon-catalogue: server A is the built-in endpoint (through
// TAVILON_CATALOGUE_URL) and holds the seeded videos; server B is an empty second catalogue.
class CatalogueClientTest : public testing::Test {
protected:
    static constexpr int Fillers = 20;

    static void SetUpTestSuite() {
        const QString folder = testenv::MakeTempDir(QStringLiteral("client"));
        databaseA_ = new QString(QStringLiteral("sqlite:") + folder + QStringLiteral("/a.sqlite"));
        QFile seed(folder + QStringLiteral("/seed.txt"));
        ASSERT_TRUE(seed.open(QIODevice::WriteOnly));
        for (int i = 1; i <= Fillers; ++i)
            seed.write(QStringLiteral("title:Filler %1\nimdbid:%1\nhttp://fh/filler%1\n\n")
                           .arg(i, 2, 10, QLatin1Char('0'))
                           .toUtf8());
        seed.write(
            "title:Oldest Classic\nyear:1950\nimdbid:0000001\nquality:DVD Rip\nlang:Spanish\n"
            "http://fh/classic\n\n"
            "title:Newest Production\nyear:2020\nrating:3\nhttp://fh/newest\n\n"
            "title:aardvark Best\nrating:9\npassword:secret\nhttp://fh/best1\nhttp://fh/best2\n");
        seed.close();
        const cattest::TCommandResult imported = cattest::RunCatalogue(
            {QStringLiteral("import"), seed.fileName(), QStringLiteral("--db"), *databaseA_});
        ASSERT_EQ(imported.ExitCode, 0) << imported.Err.toStdString();

        serverA_ = cattest::StartServer(*databaseA_).release();
        serverB_ =
            cattest::StartServer(QStringLiteral("sqlite:") + folder + QStringLiteral("/b.sqlite"))
                .release();
        ASSERT_FALSE(serverA_->Url().isEmpty());
        ASSERT_FALSE(serverB_->Url().isEmpty());
        // The built-in endpoint is fixed when the interface is registered, before any call.
        qputenv("TAVILON_CATALOGUE_URL", (EndpointA()).toUtf8());
        if (OptionsManager().FindSection(ServerSection) == nullptr)
            RegisterOptionDefaults();
    }

    static void TearDownTestSuite() {
        delete serverA_;
        delete serverB_;
        delete databaseA_;
    }

    void SetUp() override { SetDefaultServer(EndpointA()); }

    static QString EndpointA() { return serverA_->Url() + cattest::EndpointPath; }
    static QString EndpointB() { return serverB_->Url() + cattest::EndpointPath; }
    static void SetDefaultServer(const QString& url) {
        OptionsManager()
            .FindSection(ServerSection)
            ->SetString(QStringLiteral("DefaultServer"), url);
    }

    static QStringList Titles(const QStringList& answer) {
        QStringList titles;
        for (const QString& entry : answer.mid(1))
            titles.append(TCatalogueEntry::Split(entry).Title);
        return titles;
    }

    static inline testenv::TServerProcess* serverA_ = nullptr;
    static inline testenv::TServerProcess* serverB_ = nullptr;
    static inline QString* databaseA_ = nullptr;
};

TEST_F(CatalogueClientTest, PagesWalkTheWholeCatalogueWithTheTotalOnEveryPage) {
    const qint64 total = Fillers + 3;
    QStringList seen;
    for (qint64 start = 0; start < total + 7; start += 7) {
        const ArrayOfstring page = GetCatalogueService()->getvideos(start, 7, QString(), 0);
        EXPECT_EQ(CatalogueTotal(page), total);
        EXPECT_EQ(page.size() - 1, std::clamp<qint64>(total - start, 0, 7)) << start;
        seen += Titles(page);
    }
    ASSERT_EQ(seen.size(), total);
    EXPECT_EQ(seen.front(), QStringLiteral("aardvark Best"));
    EXPECT_EQ(seen.back(), QStringLiteral("Filler 01"));
    seen.removeDuplicates();
    EXPECT_EQ(seen.size(), total);
}

TEST_F(CatalogueClientTest, EachOrderPutsItsOwnVideoFirst) {
    // Two plays of the classic, counted by checkvideo.
    const _di_tavilonPortType service = GetCatalogueService();
    for (int play = 0; play < 2; ++play)
        EXPECT_TRUE(service->checkvideo({QStringLiteral("password:"), QStringLiteral("size:1 MB"),
                                         QStringLiteral("http://fh/classic")}));
    const struct {
        qint64 type;
        const char* first;
        const char* second;
    } orders[] = {{0, "aardvark Best", "Newest Production"},
                  {1, "Oldest Classic", "aardvark Best"},
                  {2, "aardvark Best", "Newest Production"},
                  {3, "Newest Production", "Oldest Classic"},
                  {4, "aardvark Best", "Filler 01"}};
    for (const auto& order : orders) {
        const QStringList titles = Titles(service->getvideos(0, 2, QString(), order.type));
        EXPECT_EQ(titles, QStringList({QString::fromLatin1(order.first),
                                       QString::fromLatin1(order.second)}))
            << "order " << order.type;
    }
    const TCatalogueEntry classic =
        TCatalogueEntry::Split(service->getvideos(0, 1, QStringLiteral("classic"), 0).value(1));
    EXPECT_EQ(classic.ImdbId, QStringLiteral("0000001"));
    EXPECT_EQ(classic.DisplayDescription(), QStringLiteral("DVD Rip - Spanish"));
}

TEST_F(CatalogueClientTest, ACallBlocksWithoutServingEvents) {
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    GetCatalogueService()->getvideos(0, 18, QString(), 0);
    EXPECT_FALSE(timerRan);
    QCoreApplication::processEvents();
    EXPECT_TRUE(timerRan);
}

TEST_F(CatalogueClientTest, SearchesWithBlanksAndWithoutText) {
    const _di_tavilonPortType service = GetCatalogueService();
    const ArrayOfstring padded = service->getvideos(0, 18, QStringLiteral("  oldest  "), 0);
    EXPECT_EQ(Titles(padded), QStringList({QStringLiteral("Oldest Classic")}));
    EXPECT_EQ(CatalogueTotal(padded), 1);
    EXPECT_EQ(CatalogueTotal(service->getvideos(0, 18, QString(), 0)), Fillers + 3);
    EXPECT_EQ(service->getvideos(0, 18, QStringLiteral("nothing-like-it"), 0),
              QStringList({QStringLiteral("0")}));
}

TEST_F(CatalogueClientTest, FaultsAndTransportFailuresReachTheCaller) {
    const _di_tavilonPortType service = GetCatalogueService();
    try {
        service->registervideo(QStringLiteral("No id"),
                               {QStringLiteral("password:"), QStringLiteral("imdbid:"),
                                QStringLiteral("http://fh/x")});
        ADD_FAILURE() << "no error";
    } catch (const ESoapFault& fault) {
        EXPECT_EQ(fault.Message(),
                  QStringLiteral("The record has no IMDb id (an \"imdbid:\" line with digits)"));
    }
    EXPECT_THROW(service->getvideos(0, 18, QString(), 9), ESoapFault);

    SetDefaultServer(
        QStringLiteral("http://127.0.0.1:%1/tavilonserver.php").arg(cattest::FreePort()));
    try {
        GetCatalogueService()->getvideos(0, 18, QString(), 0);
        ADD_FAILURE() << "no error";
    } catch (const Exception& failure) {
        EXPECT_TRUE(
            failure.Message().startsWith(QStringLiteral("Could not reach http://127.0.0.1:")))
            << failure.what();
    }
}

TEST_F(CatalogueClientTest, RegistersAVideoAndThenKnowsIt) {
    const ArrayOfstring record = {QStringLiteral("password:pw"),
                                  QStringLiteral("size:1.5 GB"),
                                  QStringLiteral("file:Fresh.Film.2009.avi"),
                                  QStringLiteral("quality:HD Rip"),
                                  QStringLiteral("lang:English"),
                                  QStringLiteral("imdbid:0999"),
                                  QStringLiteral("http://fh/fresh1"),
                                  QStringLiteral("http://fh/fresh2")};
    const ArrayOfstring question = {QStringLiteral("password:pw"), QStringLiteral("size:1.5 GB"),
                                    QStringLiteral("http://fh/fresh1"),
                                    QStringLiteral("http://fh/fresh2")};
    SetDefaultServer(EndpointB());
    EXPECT_FALSE(GetCatalogueService()->checkvideo(question));
    const QString id = GetCatalogueService()->registervideo(QStringLiteral("Fresh Film"), record);
    EXPECT_FALSE(id.isEmpty());
    EXPECT_TRUE(GetCatalogueService()->checkvideo(question));
    const ArrayOfstring found = GetCatalogueService()->getvideos(0, 18, QStringLiteral("fresh"), 3);
    EXPECT_EQ(found,
              QStringList({QStringLiteral("1"),
                           QStringLiteral("Fresh Film@@@0999@@@%1@@@HD Rip@@@English").arg(id)}));
}

TEST_F(CatalogueClientTest, EmptyDefaultServerUsesTheBuiltInEndpointAndChangesApplyAtOnce) {
    SetDefaultServer(QString());
    EXPECT_EQ(CatalogueTotal(GetCatalogueService()->getvideos(0, 1, QString(), 0)), Fillers + 3);

    SetDefaultServer(EndpointB());
    const qint64 totalB = CatalogueTotal(GetCatalogueService()->getvideos(0, 1, QString(), 0));
    EXPECT_LT(totalB, Fillers + 3);
    SetDefaultServer(EndpointA());
    EXPECT_EQ(CatalogueTotal(GetCatalogueService()->getvideos(0, 1, QString(), 0)), Fillers + 3);
}

TEST_F(CatalogueClientTest, WsdlModeFindsTheEndpointInTheServiceDescription) {
    const auto client = std::make_shared<TSoapClient>();
    const _di_tavilonPortType described = GettavilonPortType(true, QString(), client);
    EXPECT_EQ(client->URL, EndpointA());
    EXPECT_EQ(client->SoapActionOf(QStringLiteral("getvideos")),
              EndpointA() + QStringLiteral("/getvideos"));
    EXPECT_EQ(CatalogueTotal(described->getvideos(0, 1, QString(), 0)), Fillers + 3);
    EXPECT_THROW(GettavilonPortType(true, EndpointA() + QStringLiteral("?id=1")), Exception);
}

TEST_F(CatalogueClientTest, GetVideoLinksReadsTheVideosLines) {
    Ttavilonapi data;
    const _di_tavilonPortType service = GetCatalogueService();
    const qint64 id =
        TCatalogueEntry::Split(service->getvideos(0, 1, QStringLiteral("aardvark"), 0).value(1))
            .VideoId();
    ASSERT_GT(id, 0);
    QStringList lines = {QStringLiteral("old content")};
    data.GetVideoLinks(id, lines);
    EXPECT_EQ(lines,
              QStringList({QStringLiteral("password:secret"), QStringLiteral("http://fh/best1"),
                           QStringLiteral("http://fh/best2")}));

    // An unknown id: the server's 404 reaches the caller with its reason text.
    try {
        data.GetVideoLinks(987654, lines);
        ADD_FAILURE() << "no error";
    } catch (const EHttpException& failure) {
        EXPECT_EQ(failure.ErrorCode, 404);
    }
    // With "DefaultServer" empty the address is the bare query "?id=N", which has no host.
    SetDefaultServer(QString());
    EXPECT_THROW(data.GetVideoLinks(id, lines), Exception);
}

} // namespace
