#include "catalogue/GetCatalogueService.h"
#include "catalogue/TCatalogueEntry.h"
#include "platform/OptionDefaults.h"
#include "server/catalogue/CatalogueTestServer.h"
#include "soap/ESoapFault.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

namespace {

constexpr int PhpStartTimeoutMs = 10000;

const QString PhpFolder = QStringLiteral(TAVILON_SOURCE_DIR "/tests/soap/php");

bool PhpWithSoap(QString& problem) {
    if (QStandardPaths::findExecutable(QStringLiteral("php")).isEmpty()) {
        problem = QStringLiteral("php is not installed");
        return false;
    }
    QProcess modules;
    modules.start(QStringLiteral("php"), {QStringLiteral("-m")});
    modules.waitForFinished();
    if (!modules.readAllStandardOutput().contains("soap")) {
        problem = QStringLiteral("php has no soap extension");
        return false;
    }
    return true;
}

// PHP's ext/soap as the catalogue server: "php -S" on a free port with our test script.
class PhpServerForOurClient : public testing::Test {
protected:
    void SetUp() override {
        QString problem;
        if (!PhpWithSoap(problem))
            GTEST_FAIL() << problem.toStdString() << " (scripts/setup installs php-cli, php-soap)";
        const int port = cattest::FreePort();
        php_.setProcessChannelMode(QProcess::MergedChannels);
        php_.start(QStringLiteral("php"),
                   {QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(port),
                    PhpFolder + QStringLiteral("/catalogue_server.php")});
        QElapsedTimer waited;
        waited.start();
        bool answering = false;
        while (!answering && waited.elapsed() < PhpStartTimeoutMs &&
               php_.state() != QProcess::NotRunning) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
            answering = probe.waitForConnected(200);
            if (!answering)
                QThread::msleep(50);
        }
        ASSERT_TRUE(answering) << php_.readAll().toStdString();
        if (OptionsManager().FindSection(ServerSection) == nullptr)
            RegisterOptionDefaults();
        OptionsManager()
            .FindSection(ServerSection)
            ->SetString(QStringLiteral("DefaultServer"),
                        QStringLiteral("http://127.0.0.1:%1/tavilonserver.php").arg(port));
    }

    void TearDown() override {
        php_.terminate();
        if (!php_.waitForFinished(5000))
            php_.kill();
        php_.waitForFinished();
    }

    QProcess php_;
};

TEST_F(PhpServerForOurClient, CallsArriveWithTheirValuesAndAnswersAreRead) {
    const _di_tavilonPortType service = GetCatalogueService();
    // The search travels with its blanks; the integers arrive as numbers.
    const ArrayOfstring echo = service->getvideos(5, 18, QStringLiteral("  two words  "), 4);
    ASSERT_EQ(echo.size(), 2);
    EXPECT_EQ(CatalogueTotal(echo), 1);
    EXPECT_EQ(TCatalogueEntry::Split(echo[1]).Description, QStringLiteral("  two words  |5,18,4"));
    EXPECT_EQ(TCatalogueEntry::Split(echo[1]).VideoId(), 7);

    const ArrayOfstring odd = service->getvideos(0, 18, QStringLiteral("nan"), 0);
    EXPECT_EQ(CatalogueTotal(odd), 0);
    EXPECT_EQ(odd.size(), 2);
    // No element at all: an empty page with a total of 0.
    EXPECT_EQ(service->getvideos(0, 18, QStringLiteral("empty"), 0),
              QStringList({QStringLiteral("0")}));

    EXPECT_TRUE(
        service->checkvideo({QStringLiteral("password:"), QStringLiteral("http://fh/known")}));
    EXPECT_FALSE(
        service->checkvideo({QStringLiteral("password:"), QStringLiteral("http://fh/new")}));
    EXPECT_EQ(
        service->registervideo(QStringLiteral("Café Ñoño <&>"),
                               {QStringLiteral("password:a\"b"), QStringLiteral("http://fh/1")}),
        QStringLiteral("Café Ñoño <&>|password:a\"b|http://fh/1"));
}

TEST_F(PhpServerForOurClient, AFaultBecomesAnErrorWithItsString) {
    try {
        GetCatalogueService()->getvideos(0, 18, QStringLiteral("fault"), 0);
        ADD_FAILURE() << "no error";
    } catch (const ESoapFault& fault) {
        EXPECT_EQ(fault.Message(), QStringLiteral("The catalogue is closed for the night"));
        EXPECT_EQ(fault.FaultCode(), QStringLiteral("Server"));
    }
}

// PHP's ext/soap as a client of tavilon-catalogue, without and with the service description.
TEST(PhpClientOfOurServer, RegistersChecksSearchesAndReadsFaults) {
    QString problem;
    if (!PhpWithSoap(problem))
        GTEST_FAIL() << problem.toStdString() << " (scripts/setup installs php-cli, php-soap)";
    QString skipReason;
    bool skip = false;
    const QString database = cattest::NewDatabase(QStringLiteral("sqlite"), skipReason, skip);
    const auto server = cattest::StartServer(database);
    ASSERT_FALSE(server->Url().isEmpty());

    QProcess php;
    php.start(QStringLiteral("php"), {PhpFolder + QStringLiteral("/catalogue_client.php"),
                                      server->Url() + cattest::EndpointPath});
    ASSERT_TRUE(php.waitForFinished(30000));
    const QByteArray output = php.readAllStandardOutput();
    ASSERT_EQ(php.exitCode(), 0) << output.toStdString()
                                 << php.readAllStandardError().toStdString();
    const QJsonObject result = QJsonDocument::fromJson(output).object();
    ASSERT_FALSE(result.isEmpty()) << output.toStdString();

    EXPECT_EQ(result[QStringLiteral("id")].toString(), QStringLiteral("1"));
    EXPECT_TRUE(result[QStringLiteral("known")].toBool());
    EXPECT_FALSE(result[QStringLiteral("unknown")].toBool());
    const QString entry = QStringLiteral("Café Ñoño@@@0424242@@@1@@@DVD Rip@@@Spanish");
    EXPECT_EQ(result[QStringLiteral("page")].toArray(), QJsonArray({QStringLiteral("1"), entry}));
    EXPECT_EQ(result[QStringLiteral("wsdl")].toArray(), QJsonArray({QStringLiteral("1"), entry}));
    EXPECT_EQ(result[QStringLiteral("fault")].toString(),
              QStringLiteral("The sort order 9 is unknown (0 to 4 are offered)"));
}

} // namespace
