#include "net/THttpCli.h"
#include "support/TestData.h"
#include "support/TestEnvironment.h"
#include "support/TestHttpServer.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>
#include <httplib.h>
#include <memory>
#include <thread>

using testenv::WaitUntil;

namespace {

// Serves the event loop until `done` holds or `ms` have passed; returns `done()`.
class HttpCliTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = testenv::MakeTempDir(QStringLiteral("http"));
        content_ = testenv::PatternBytes(300000, 12345);
        const QString path = dir_ + QStringLiteral("/file.bin");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content_);
        file.close();
        server_.ServeFile("/files/file.bin", path.toStdString());
        server_.Start();
    }

    QString Url(const std::string& path) const { return QString::fromStdString(server_.Url(path)); }

    QString dir_;
    QByteArray content_;
    TTestHttpServer server_;
};

TEST_F(HttpCliTest, SyncGetKeepsTheEventLoopServingTimers) {
    server_.AddHandler("/slow", [](const httplib::Request&, httplib::Response& response) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        response.set_content("slow body", "text/plain");
    });
    THttpCli client;
    QBuffer body;
    body.open(QIODevice::WriteOnly);
    client.URL = Url("/slow");
    client.RcvdStream = &body;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(20);
    client.Get();
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(body.data(), QByteArray("slow body"));
    EXPECT_EQ(client.ContentLength(), 9);
    EXPECT_GE(ticks, 5);
    EXPECT_FALSE(client.Started()) << "only asynchronous GETs set Started";

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].headers.at("user-agent"), "Mozilla/4.0 (compatible; ICS)");
    EXPECT_EQ(requests[0].headers.at("accept"),
              "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    EXPECT_EQ(requests[0].headers.count("range"), 0u);
}

TEST_F(HttpCliTest, SyncRequestsRaiseTheHttpErrorAbove399ExceptAuthentication) {
    struct Case {
        int status;
        bool raises;
    };
    const Case cases[] = {{200, false}, {204, false}, {399, false}, {400, true}, {401, false},
                          {403, true},  {404, true},  {407, false}, {500, true}, {503, true}};
    for (const Case& c : cases) {
        const bool raises = c.raises;
        const std::string path = "/status" + std::to_string(c.status);
        server_.AddPage(path, c.status, "page");
        THttpCli client;
        client.URL = Url(path);
        try {
            client.Get();
            EXPECT_FALSE(raises) << c.status;
        } catch (const EHttpException& error) {
            EXPECT_TRUE(raises) << c.status;
            EXPECT_EQ(error.ErrorCode, c.status);
            EXPECT_EQ(error.Message(), client.ReasonPhrase());
            EXPECT_FALSE(error.Message().isEmpty());
        }
        EXPECT_EQ(client.StatusCode(), c.status);
    }
}

TEST_F(HttpCliTest, FailedConnectionIsStatus404WithOurReason) {
    // A port that was just free: nothing listens there.
    TTestHttpServer closed;
    closed.Start();
    const std::string url = closed.Url("/x");
    closed.Stop();
    THttpCli client;
    client.URL = QString::fromStdString(url);
    try {
        client.Get();
        FAIL() << "no error raised";
    } catch (const EHttpException& error) {
        EXPECT_EQ(error.ErrorCode, 404);
        EXPECT_TRUE(error.Message().startsWith(QStringLiteral("Connection failed")))
            << error.what();
    }
    EXPECT_EQ(client.StatusCode(), 404);

    int doneCode = -1;
    client.SetOnRequestDone([&](THttpCli*, int code) { doneCode = code; });
    client.URL = QStringLiteral("http://no-such-host.invalid/x");
    client.GetASync();
    ASSERT_TRUE(WaitUntil([&] { return doneCode != -1; }));
    EXPECT_NE(doneCode, 0);
    EXPECT_EQ(client.StatusCode(), 404);
}

TEST_F(HttpCliTest, RangeHeaderFromTheTwoTexts) {
    struct Case {
        QString begin, end;
        std::string header;
        int status;
        QByteArray body;
    };
    const Case cases[] = {
        {QStringLiteral("10"), QStringLiteral("19"), "bytes=10-19", 206, content_.mid(10, 10)},
        {QStringLiteral("299990"), QString(), "bytes=299990-", 206, content_.mid(299990)},
        {QString(), QString(), "", 200, content_},
    };
    for (const Case& c : cases) {
        server_.ClearRequests();
        THttpCli client;
        QBuffer body;
        body.open(QIODevice::WriteOnly);
        client.URL = Url("/files/file.bin");
        client.ContentRangeBegin = c.begin;
        client.ContentRangeEnd = c.end;
        client.RcvdStream = &body;
        client.Get();
        const auto requests = server_.Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].range, c.header);
        EXPECT_EQ(client.StatusCode(), c.status);
        EXPECT_EQ(client.ContentLength(), c.body.size());
        EXPECT_TRUE(body.data() == c.body) << c.header;
    }
}

// Records the events of one asynchronous request as text.
struct TEventLog {
    std::vector<std::string> events;
    QByteArray data;
    int doneCount = 0;
    int doneCode = -1;

    void Hook(THttpCli& client) {
        client.SetOnHeaderEnd([this](THttpCli* sender) {
            events.push_back("header " + std::to_string(sender->StatusCode()));
        });
        client.SetOnLocationChange([this](THttpCli* sender) {
            events.push_back("location " + sender->URL.toStdString());
        });
        client.SetOnDocData(
            [this](THttpCli*, const char* buffer, int64_t len) { data.append(buffer, len); });
        client.SetOnRequestDone([this](THttpCli*, int code) {
            ++doneCount;
            doneCode = code;
            events.push_back("done " + std::to_string(code));
        });
        client.SetOnCookie([this](THttpCli*, const QString& text, bool&) {
            events.push_back("cookie " + text.toStdString());
        });
    }
};

TEST_F(HttpCliTest, RelocationsAreFollowedHopByHopWithTheirEvents) {
    server_.AddPage("/first", 301, "a moved body that must not be delivered",
                    {{"Location", "/second"}});
    server_.AddPage(
        "/second", 302, "another body",
        {{"Location", Url("/files/file.bin").toStdString()}, {"Set-Cookie", "user=abc; path=/"}});
    THttpCli client;
    TEventLog log;
    log.Hook(client);
    int hops = 0;
    // The handler moves the range for the next hop, as a ranged download continues its part.
    client.SetOnLocationChange([&](THttpCli* sender) {
        ++hops;
        log.events.push_back("location " + sender->URL.toStdString());
        sender->ContentRangeBegin = QString::number(100 * hops);
        sender->ContentRangeEnd = QString::number(100 * hops + 49);
    });
    client.URL = Url("/first");
    client.ContentRangeBegin = QStringLiteral("0");
    client.ContentRangeEnd = QStringLiteral("9");
    client.GetASync();
    EXPECT_TRUE(client.Started());
    ASSERT_TRUE(WaitUntil([&] { return log.doneCount > 0; }));
    const std::vector<std::string> expected = {
        "header 301", "location " + Url("/second").toStdString(),         "cookie user=abc; path=/",
        "header 302", "location " + Url("/files/file.bin").toStdString(), "header 206",
        "done 0",
    };
    EXPECT_EQ(log.events, expected);
    EXPECT_TRUE(log.data == content_.mid(200, 50));
    EXPECT_EQ(client.DocName(), QStringLiteral("file.bin"));
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].range, "bytes=0-9");
    EXPECT_EQ(requests[1].range, "bytes=100-149");
    EXPECT_EQ(requests[2].range, "bytes=200-249");
    WaitUntil([] { return false; }, 100);
    EXPECT_EQ(log.doneCount, 1);
}

TEST_F(HttpCliTest, RelocationLimitsAndSettings) {
    server_.AddRedirect("/loop", "/loop", 302);
    {
        THttpCli client;
        TEventLog log;
        log.Hook(client);
        client.URL = Url("/loop");
        client.LocationChangeMaxCount = 3;
        client.GetASync();
        ASSERT_TRUE(WaitUntil([&] { return log.doneCount > 0; }));
        EXPECT_EQ(log.doneCode, THttpCli::ErrorTooManyRelocations);
        EXPECT_EQ(server_.RequestCount(), 4u);
        EXPECT_THROW(client.Get(), EHttpException);
    }
    server_.ClearRequests();
    {
        THttpCli client;
        TEventLog log;
        log.Hook(client);
        client.URL = Url("/loop");
        client.FollowRelocation = false;
        client.GetASync();
        ASSERT_TRUE(WaitUntil([&] { return log.doneCount > 0; }));
        EXPECT_EQ(log.doneCode, 0);
        EXPECT_EQ(client.StatusCode(), 302);
        EXPECT_EQ(client.Location(), Url("/loop"));
        EXPECT_EQ(server_.RequestCount(), 1u);
    }
}

TEST_F(HttpCliTest, OneCookieEventPerCookieLine) {
    server_.AddPage("/login", 200, "ok",
                    {{"Set-Cookie", "l=en; path=/"}, {"Set-Cookie", "user=XYZ123; expires=never"}});
    THttpCli client;
    std::vector<QString> cookies;
    client.SetOnCookie([&](THttpCli*, const QString& text, bool& accept) {
        EXPECT_TRUE(accept);
        cookies.push_back(text);
    });
    client.URL = Url("/login");
    QBuffer body;
    body.setData(QByteArray("login=a&password=b"));
    body.open(QIODevice::ReadOnly);
    client.SendStream = &body;
    client.Post();
    EXPECT_EQ(cookies, (std::vector<QString>{QStringLiteral("l=en; path=/"),
                                             QStringLiteral("user=XYZ123; expires=never")}));
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, "login=a&password=b");
    EXPECT_EQ(requests[0].headers.at("content-type"), "application/x-www-form-urlencoded");
}

TEST_F(HttpCliTest, PostRelocatedBy303BecomesGetAnd307StaysPost) {
    server_.AddPage("/form", 200, "done");
    struct Case {
        int status;
        std::string method;
    };
    const Case cases[] = {{301, "GET"}, {302, "GET"}, {303, "GET"}, {307, "POST"}, {308, "POST"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        const std::string from = "/post" + std::to_string(c.status);
        server_.AddRedirect(from, "/form", c.status);
        server_.ClearRequests();
        THttpCli client;
        client.RequestVer = QStringLiteral("1.1");
        QBuffer body;
        body.setData(QByteArray("a=1"));
        body.open(QIODevice::ReadOnly);
        client.SendStream = &body;
        client.URL = Url(from);
        client.Post();
        const auto requests = server_.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].method, "POST");
        EXPECT_EQ(requests[0].version, "HTTP/1.1");
        EXPECT_EQ(requests[1].method, c.method);
        EXPECT_EQ(requests[1].body, c.method == "POST" ? "a=1" : "");
    }
    THttpCli plain;
    plain.URL = Url("/form");
    plain.Get();
    EXPECT_EQ(server_.Requests().back().version, "HTTP/1.0") << "the default request version";
}

TEST(HttpCliDocName, LastSegmentWithoutQuery) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://host/a/b/movie.part1.rar", "movie.part1.rar"},
        {"http://host/mgr_dl.php?d=AB12&u=x", "mgr_dl.php"},
        {"http://host/dir/", "document.htm"},
        {"http://host", "document.htm"},
        {"http://host:81/a%20b.avi#frag", "a%20b.avi"},
        {"http://host/?q=a/b", "document.htm"},
    };
    THttpCli client;
    for (const auto& [url, name] : cases) {
        client.URL = QString::fromLatin1(url);
        EXPECT_EQ(client.DocName(), QString::fromLatin1(name)) << url;
    }
}

TEST_F(HttpCliTest, AbortRaisesRequestDoneAlsoWhenIdle) {
    THttpCli client;
    TEventLog log;
    log.Hook(client);
    client.Abort();
    EXPECT_EQ(log.doneCount, 1);
    EXPECT_EQ(log.doneCode, 0);

    server_.AddStall(1000, 5000, 1);
    client.URL = Url("/files/file.bin");
    client.GetASync();
    ASSERT_TRUE(WaitUntil([&] { return log.data.size() >= 1000; }));
    client.Abort();
    EXPECT_EQ(log.doneCount, 2);
    EXPECT_EQ(log.doneCode, THttpCli::ErrorAborted);
    EXPECT_FALSE(client.Busy());
    WaitUntil([] { return false; }, 200);
    EXPECT_EQ(log.doneCount, 2) << "nothing more after the abort";
}

TEST_F(HttpCliTest, HandlersMayRestartAbortOrDestroyClientsFromAnyEvent) {
    // Destroyed inside its own data event.
    {
        auto* client = new THttpCli;
        int blocks = 0;
        client->SetOnDocData([&](THttpCli* sender, const char*, int64_t) {
            ++blocks;
            delete sender;
        });
        client->URL = Url("/files/file.bin");
        client->GetASync();
        ASSERT_TRUE(WaitUntil([&] { return blocks > 0; }));
        WaitUntil([] { return false; }, 200);
        EXPECT_EQ(blocks, 1);
    }
    // Aborted inside its header event; another request started on it from its done event,
    // destroyed inside the second done event.
    {
        auto* client = new THttpCli;
        int dones = 0;
        QByteArray second;
        bool destroyed = false;
        client->SetOnHeaderEnd([&](THttpCli* sender) {
            if (dones == 0)
                sender->Abort();
        });
        client->SetOnDocData([&](THttpCli*, const char* buffer, int64_t len) {
            if (dones == 1)
                second.append(buffer, len);
        });
        client->SetOnRequestDone([&](THttpCli* sender, int) {
            ++dones;
            if (dones == 1) {
                sender->ContentRangeBegin = QStringLiteral("5");
                sender->ContentRangeEnd = QStringLiteral("9");
                sender->GetASync();
            } else {
                delete sender;
                destroyed = true;
            }
        });
        client->URL = Url("/files/file.bin");
        client->GetASync();
        ASSERT_TRUE(WaitUntil([&] { return destroyed; }));
        EXPECT_EQ(dones, 2);
        EXPECT_TRUE(second == content_.mid(5, 5));
    }
    // One client destroys another from inside a synchronous request's nested loop.
    {
        auto* victim = new THttpCli;
        server_.AddStall(100, 3000, 1);
        victim->URL = Url("/files/file.bin");
        int victimDone = 0;
        victim->SetOnRequestDone([&](THttpCli*, int) { ++victimDone; });
        victim->GetASync();
        QTimer::singleShot(100, [&] { delete victim; });
        THttpCli syncClient;
        server_.AddPage("/page", 200, "x");
        syncClient.URL = Url("/page");
        WaitUntil([] { return false; }, 50);
        syncClient.Get();
        WaitUntil([] { return false; }, 150);
        EXPECT_EQ(victimDone, 0) << "destruction raises no event";
    }
}

TEST_F(HttpCliTest, BusyClientRefusesASecondRequest) {
    server_.AddStall(10, 2000, 1);
    THttpCli client;
    client.URL = Url("/files/file.bin");
    client.GetASync();
    EXPECT_THROW(client.GetASync(), EHttpException);
    EXPECT_THROW(client.Get(), EHttpException);
    client.Abort();
}

} // namespace
