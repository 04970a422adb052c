#include "api/Ttavilonapi.h"
#include "core/Errors.h"
#include "filehost/Megaupload.h"
#include "filehost/TFileHostAccount.h"
#include "net/THttpCli.h"
#include "platform/OptionDefaults.h"
#include "platform/OptionsManager.h"
#include "server/filehost/FileHostProcess.h"
#include "support/ScriptedInteraction.h"
#include "support/TestHttpServer.h"

#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>

using testenv::TFileHostProcess;

namespace {

void SetAccount(const QString& name, const QString& password) {
    if (!OptionsManager().FindSection(LoginSection))
        RegisterOptionDefaults();
    TOptionValues* section = OptionsManager().FindSection(LoginSection);
    section->SetString(QStringLiteral("Username"), name);
    section->SetString(QStringLiteral("Password"), password);
}

// A data module talking to the file host at `url`.
class FileHostAccount : public testing::Test {
protected:
    void SetUp() override {
        if (!OptionsManager().FindSection(LoginSection))
            RegisterOptionDefaults();
        data = std::make_unique<Ttavilonapi>();
    }
    void TearDown() override {
        data.reset();
        qunsetenv("TAVILON_FILEHOST_URL");
    }
    static void UseFileHost(const QString& url) { qputenv("TAVILON_FILEHOST_URL", url.toUtf8()); }
    static void UseFileHost(const std::string& url) { UseFileHost(QString::fromStdString(url)); }

    TScriptedInteraction interaction;
    std::unique_ptr<Ttavilonapi> data;
};

struct CookieCase {
    const char* line;
    const char* cookie; // UserCookie afterwards, starting from "before"
};

TEST_F(FileHostAccount, CookieLinesSetTheUserValueOnlyWhenASemicolonFollows) {
    const CookieCase cases[] = {
        {"user=abc123; path=/", "abc123"},
        {"user=abc123; expires=Fri, 31-Dec-2038 23:59:59 GMT; path=/", "abc123"},
        {"xuser=abc123; path=/", "abc123"}, // a name merely ending in "user" counts
        {"user=abc123", "before"},          // no ";" after the value: unchanged
        {"session=1; path=/", "before"},
        {"lang=en; user=v2; path=/", "v2"},
        {"user=; path=/", ""},
    };
    for (const CookieCase& c : cases) {
        data->Account().UserCookie = QStringLiteral("before");
        bool accept = false;
        data->Account().HttpCliCookie(nullptr, QString::fromLatin1(c.line), accept);
        EXPECT_EQ(data->Account().UserCookie, QString::fromLatin1(c.cookie)) << c.line;
        EXPECT_TRUE(accept) << c.line;
    }
    data->Logout();
    EXPECT_FALSE(data->IsLoggedIn());
}

TEST_F(FileHostAccount, LinksGiveDownloadUrlsAndCheckIds) {
    UseFileHost(QStringLiteral("http://files.example:81/"));
    data->Account().UserCookie = QStringLiteral("tok");
    struct LinkCase {
        const char* link;
        const char* url;
        const char* id;
    };
    const LinkCase cases[] = {
        {"http://h/?d=ABCDEFGHIJ", "http://files.example:81/mgr_dl.php?d=ABCDEFGHIJ&u=tok",
         "ABCDEFGH"},
        {"http://h/?d= AB12 ", "http://files.example:81/mgr_dl.php?d=AB12&u=tok", "AB12"},
        {"x d=Q1 d=Q2", "http://files.example:81/mgr_dl.php?d=Q1 d=Q2&u=tok", "Q1 d=Q2"},
        {"http://h/file", "", ""},
        {"", "", ""},
    };
    for (const LinkCase& c : cases) {
        EXPECT_EQ(data->DownloadUrlFromLink(QString::fromLatin1(c.link)),
                  QString::fromLatin1(c.url))
            << c.link;
        EXPECT_EQ(LinkIdFromLink(QString::fromLatin1(c.link)), QString::fromLatin1(c.id)) << c.link;
    }
    // The converted URL carries the id too, so the check works on either form.
    EXPECT_EQ(LinkIdFromLink(data->DownloadUrlFromLink(QStringLiteral("http://h/?d=ABCDEFGH"))),
              QStringLiteral("ABCDEFGH"));
    data->Logout();
    EXPECT_TRUE(data->DownloadUrlFromLink(QStringLiteral("?d=X")).endsWith(QStringLiteral("&u=")));
}

TEST_F(FileHostAccount, LoginAtTheRealFileHost) {
    TFileHostProcess host;
    ASSERT_TRUE(host.Running());
    UseFileHost(host.Url());
    host.AddUser(QStringLiteral("ann"), QStringLiteral("secret"));
    // "é" goes out as its Latin-1 byte, "€" as UTF-8 bytes; the host reads both.
    host.AddUser(QStringLiteral("eve"), QString::fromUtf8("caf\xC3\xA9\xE2\x82\xAC"));

    SetAccount(QStringLiteral("ann"), QStringLiteral("wrong"));
    EXPECT_FALSE(data->Login());
    EXPECT_TRUE(data->Account().UserCookie.isEmpty());

    SetAccount(QStringLiteral(" ann "), QStringLiteral("secret")); // trimmed in the form
    EXPECT_TRUE(data->Login());
    EXPECT_EQ(data->Account().UserCookie.size(), 32);
    EXPECT_EQ(interaction.statusShown.last(), QStringLiteral("Login into 127.0.0.1 as user: ann "));
    EXPECT_EQ(interaction.statusHidden, 2);

    // A held cookie survives a failed login; Logout clears it.
    const QString held = data->Account().UserCookie;
    SetAccount(QStringLiteral("ann"), QStringLiteral("wrong"));
    EXPECT_TRUE(data->Login());
    EXPECT_EQ(data->Account().UserCookie, held);
    data->Logout();

    SetAccount(QStringLiteral("eve"), QString::fromUtf8("caf\xC3\xA9\xE2\x82\xAC"));
    EXPECT_TRUE(data->Login());
}

TEST_F(FileHostAccount, LoginSendsNothingWithoutBothTexts) {
    TTestHttpServer server;
    server.Start();
    UseFileHost(server.BaseUrl());
    for (const auto& [name, password] : {std::pair{"", "pw"}, std::pair{"ann", ""}}) {
        SetAccount(QString::fromLatin1(name), QString::fromLatin1(password));
        EXPECT_FALSE(data->Login());
    }
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_EQ(interaction.statusShown.size(), 2);
    EXPECT_EQ(interaction.statusHidden, 2);

    // Blanks only: not empty before trimming, so the form goes out with an empty name.
    server.AddPage("/", 200, "no", {{"Set-Cookie", "user=blank; path=/"}});
    SetAccount(QStringLiteral("   "), QStringLiteral("p&w"));
    EXPECT_TRUE(data->Login());
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/");
    EXPECT_EQ(requests[0].body, "username=&password=p%26w&login=1");
    EXPECT_EQ(requests[0].headers.at("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0].headers.at("user-agent"), "Mozilla/4.0 (compatible; ICS)");
    EXPECT_EQ(data->Account().UserCookie, QStringLiteral("blank"));
}

TEST_F(FileHostAccount, LoginFailureIsRaisedAndClosesTheStatus) {
    TTestHttpServer server;
    server.Start();
    UseFileHost(server.BaseUrl());
    server.AddPage("/", 500, "broken");
    SetAccount(QStringLiteral("ann"), QStringLiteral("pw"));
    EXPECT_THROW(data->Login(), EHttpException);
    EXPECT_EQ(interaction.statusHidden, 1);
}

TEST_F(FileHostAccount, SecondLoginJoinsTheWaitingOne) {
    TTestHttpServer server;
    server.Start();
    UseFileHost(server.BaseUrl());
    server.AddHandler("/", [](const httplib::Request&, httplib::Response& response) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        response.set_header("Set-Cookie", "user=joined; path=/");
        response.set_content("ok", "text/html");
    });
    SetAccount(QStringLiteral("ann"), QStringLiteral("pw"));
    std::optional<bool> second;
    QTimer::singleShot(100, [&] { second = data->Login(); });
    EXPECT_TRUE(data->Login());
    ASSERT_TRUE(second.has_value());
    EXPECT_TRUE(*second);
    EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(FileHostAccount, LinkCheckBodyAndAnswers) {
    TTestHttpServer server;
    server.Start();
    UseFileHost(server.BaseUrl());
    QStringList links;
    QByteArray expected;
    for (int i = 0; i <= 10; ++i) {
        links << QStringLiteral("http://h/?d=ID%1XXXXYY").arg(i, 2, 10, QLatin1Char('0'));
        expected += "id" + QByteArray::number(i) + "=ID" +
                    QByteArray::number(i).rightJustified(2, '0') + "XXXX&";
    }
    struct AnswerCase {
        const char* answer;
        bool available;
    };
    for (const AnswerCase& c :
         {AnswerCase{"id0=0&id1=0&id10=0", true}, AnswerCase{"id0=0&id10=1", false},
          AnswerCase{"", true}, AnswerCase{"id3=13", false}, AnswerCase{"id11=1", true}}) {
        server.ClearRequests();
        server.AddPage("/mgr_linkcheck.php", 200, c.answer);
        EXPECT_EQ(CheckLinks(links), c.available) << c.answer;
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].method, "POST");
        EXPECT_EQ(QByteArray::fromStdString(requests[0].body), expected);
        EXPECT_EQ(requests[0].headers.at("user-agent"),
                  "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
        EXPECT_EQ(requests[0].headers.count("cookie"), 0u);
    }
    server.ClearRequests();
    EXPECT_TRUE(CheckLinks({}));
    EXPECT_EQ(server.Requests().at(0).body, "");
    server.AddPage("/mgr_linkcheck.php", 503, "down");
    EXPECT_THROW(CheckLinks(links), EHttpException);
}

TEST_F(FileHostAccount, LinkCheckAtTheRealFileHost) {
    TFileHostProcess host;
    ASSERT_TRUE(host.Running());
    UseFileHost(host.Url());
    const QString dir = testenv::MakeTempDir();
    QStringList files;
    for (const char* name : {"v.part1.rar", "v.part2.rar"}) {
        QFile file(dir + QLatin1Char('/') + QString::fromLatin1(name));
        file.open(QIODevice::WriteOnly);
        file.write("data");
        files << file.fileName();
    }
    const QStringList links = host.Add(files);
    ASSERT_EQ(links.size(), 2);
    QStringList urls;
    for (const QString& link : links)
        urls << data->DownloadUrlFromLink(link);
    EXPECT_TRUE(CheckLinks(urls));
    host.Disable(TFileHostProcess::IdOf(links[1]));
    EXPECT_FALSE(CheckLinks(urls));
    EXPECT_TRUE(CheckLinks({urls[0]}));
}

} // namespace
