#include "server/filehost/FileHostProcess.h"
#include "support/ServerProcess.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testenv::TFileHostProcess;

namespace {

std::string MakeContent(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string content(size, '\0');
    for (char& c : content)
        c = static_cast<char>(generator());
    return content;
}

QString WriteSource(const QString& name, const std::string& content) {
    const QString path = testenv::MakeTempDir(QStringLiteral("source")) + QLatin1Char('/') + name;
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content.data(), static_cast<qint64>(content.size()));
    return path;
}

// The login token from a Set-Cookie line "user=<token>; ...".
std::string TokenOf(const httplib::Result& result) {
    const std::string cookie = result->get_header_value("Set-Cookie");
    if (cookie.rfind("user=", 0) != 0 || cookie.find(';') == std::string::npos)
        return {};
    return cookie.substr(5, cookie.find(';') - 5);
}

class FileHostServer : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(host.Running()); }

    httplib::Client Client() {
        httplib::Client client("127.0.0.1", host.Port());
        client.set_follow_location(false);
        client.set_read_timeout(30, 0);
        return client;
    }

    httplib::Result PostLogin(const std::string& body) {
        return Client().Post("/", body, "application/x-www-form-urlencoded");
    }

    std::string Login() {
        host.AddUser(QStringLiteral("ann"), QStringLiteral("secret"));
        const auto result = PostLogin("username=ann&password=secret&login=1");
        return result ? TokenOf(result) : std::string();
    }

    TFileHostProcess host;
};

TEST_F(FileHostServer, LoginAnswersTheUserCookieOnlyForTheRightPassword) {
    host.AddUser(QStringLiteral("ann"), QStringLiteral("secret"));
    const auto good = PostLogin("username=ann&password=secret&login=1");
    ASSERT_TRUE(good);
    EXPECT_EQ(good->status, 302);
    const std::string cookie = good->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("; path=/"), std::string::npos) << cookie;
    EXPECT_EQ(TokenOf(good).size(), 32u);

    for (const char* body :
         {"username=ann&password=Secret&login=1", "username=bob&password=secret&login=1",
          "username=ann&password=&login=1", "username=ann&password=secret"}) {
        const auto bad = PostLogin(body);
        ASSERT_TRUE(bad) << body;
        EXPECT_EQ(bad->status, 200) << body;
        EXPECT_FALSE(bad->has_header("Set-Cookie")) << body;
    }
}

TEST_F(FileHostServer, PasswordsWithLatin1AndUtf8CharactersLogIn) {
    // "é€": the client sends é as its Latin-1 byte and € as UTF-8 bytes.
    host.AddUser(QStringLiteral("ann"), QString::fromUtf8("caf\xC3\xA9"));
    host.AddUser(QStringLiteral("bob"), QString::fromUtf8("\xE2\x82\xAC"
                                                          "5"));
    EXPECT_FALSE(TokenOf(PostLogin("username=ann&password=caf%E9&login=1")).empty());
    EXPECT_FALSE(TokenOf(PostLogin("username=ann&password=caf%C3%A9&login=1")).empty());
    EXPECT_FALSE(TokenOf(PostLogin("username=bob&password=%E2%82%AC5&login=1")).empty());
    EXPECT_TRUE(TokenOf(PostLogin("username=ann&password=cafe&login=1")).empty());
}

TEST_F(FileHostServer, DownloadPageRelocatesToTheNamedFile) {
    const std::string token = Login();
    ASSERT_FALSE(token.empty());
    const QStringList links = host.Add({WriteSource(QStringLiteral("my movie.part1.rar"), "abc")});
    ASSERT_EQ(links.size(), 1);
    const std::string id = TFileHostProcess::IdOf(links[0]).toStdString();

    auto client = Client();
    const auto found = client.Get(("/mgr_dl.php?d=" + id + "&u=" + token).c_str());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->status, 302);
    const QUrl location(QString::fromStdString(found->get_header_value("Location")));
    EXPECT_EQ(location.host(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(location.path(QUrl::FullyEncoded),
              QStringLiteral("/files/%1/my%20movie.part1.rar").arg(QString::fromStdString(id)));

    EXPECT_EQ(client.Get(("/mgr_dl.php?d=" + id + "&u=nosuchtoken").c_str())->status, 403);
    EXPECT_EQ(client.Get(("/mgr_dl.php?d=" + id + "&u=").c_str())->status, 403);
    EXPECT_EQ(client.Get(("/mgr_dl.php?d=NOSUCHID&u=" + token).c_str())->status, 404);
    host.Disable(QString::fromStdString(id));
    EXPECT_EQ(client.Get(("/mgr_dl.php?d=" + id + "&u=" + token).c_str())->status, 404);
    EXPECT_EQ(client.Get(location.path(QUrl::FullyEncoded).toStdString().c_str())->status, 404);
}

TEST_F(FileHostServer, FilesUrlNamesAnotherBaseForRelocations) {
    TFileHostProcess other(
        {QStringLiteral("--files-url"), QStringLiteral("http://cdn.example/v/")});
    ASSERT_TRUE(other.Running());
    other.AddUser(QStringLiteral("ann"), QStringLiteral("secret"));
    const QString id =
        TFileHostProcess::IdOf(other.Add({WriteSource(QStringLiteral("x.avi"), "1")})[0]);
    httplib::Client client("127.0.0.1", other.Port());
    const auto login = client.Post("/", "username=ann&password=secret&login=1",
                                   "application/x-www-form-urlencoded");
    const auto result =
        client.Get(("/mgr_dl.php?d=" + id.toStdString() + "&u=" + TokenOf(login)).c_str());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->get_header_value("Location"),
              "http://cdn.example/v/" + id.toStdString() + "/x.avi");
}

TEST_F(FileHostServer, ServesWholeFilesAndRanges) {
    const std::string content = MakeContent(300000, 1);
    const QString id =
        TFileHostProcess::IdOf(host.Add({WriteSource(QStringLiteral("v.rar"), content)})[0]);
    const std::string path = "/files/" + id.toStdString() + "/v.rar";
    auto client = Client();

    const auto whole = client.Get(path.c_str());
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(whole->get_header_value("Content-Length"), "300000");
    EXPECT_EQ(whole->get_header_value("Accept-Ranges"), "bytes");
    EXPECT_TRUE(whole->body == content);

    struct RangeCase {
        const char* header;
        size_t from;
        size_t length;
    };
    for (const RangeCase& range :
         {RangeCase{"bytes=0-9", 0, 10}, RangeCase{"bytes=100001-200001", 100001, 100001},
          RangeCase{"bytes=299990-299999", 299990, 10}, RangeCase{"bytes=299990-", 299990, 10},
          RangeCase{"bytes=299990-999999", 299990, 10}, RangeCase{"bytes=-5", 299995, 5}}) {
        const auto part = client.Get(path.c_str(), {{"Range", range.header}});
        ASSERT_TRUE(part) << range.header;
        EXPECT_EQ(part->status, 206) << range.header;
        EXPECT_EQ(part->get_header_value("Content-Length"), std::to_string(range.length));
        EXPECT_EQ(part->get_header_value("Content-Range"),
                  "bytes " + std::to_string(range.from) + "-" +
                      std::to_string(range.from + range.length - 1) + "/300000");
        EXPECT_TRUE(part->body == content.substr(range.from, range.length)) << range.header;
    }
    EXPECT_EQ(client.Get(path.c_str(), {{"Range", "bytes=10-5"}})->status, 416);
    for (const char* header : {"bytes=400000-400010", "bytes=300000-"}) {
        const auto outside = client.Get(path.c_str(), {{"Range", header}});
        ASSERT_TRUE(outside) << header;
        EXPECT_EQ(outside->status, 416) << header;
        EXPECT_EQ(outside->get_header_value("Content-Range"), "bytes */300000");
    }
    EXPECT_EQ(client.Get(("/files/" + id.toStdString() + "/other.rar").c_str())->status, 404);
}

TEST_F(FileHostServer, ServesDozensOfConnectionsAtOnce) {
    const std::string content = MakeContent(4 * 1024 * 1024, 2);
    const QString id =
        TFileHostProcess::IdOf(host.Add({WriteSource(QStringLiteral("big.rar"), content)})[0]);
    const std::string path = "/files/" + id.toStdString() + "/big.rar";
    constexpr int kConnections = 40;
    const size_t slice = content.size() / kConnections;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kConnections; ++i)
        threads.emplace_back([&, i] {
            httplib::Client client("127.0.0.1", host.Port());
            const std::string range =
                "bytes=" + std::to_string(i * slice) + "-" + std::to_string((i + 1) * slice - 1);
            const auto result = client.Get(path.c_str(), {{"Range", range}});
            if (result && result->status == 206 && result->body == content.substr(i * slice, slice))
                ++good;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(good, kConnections);
}

TEST_F(FileHostServer, LinkCheckAnswersEveryPosition) {
    const QStringList links = host.Add(
        {WriteSource(QStringLiteral("a.rar"), "a"), WriteSource(QStringLiteral("b.rar"), "b")});
    ASSERT_EQ(links.size(), 2);
    const std::string a = TFileHostProcess::IdOf(links[0]).toStdString();
    const std::string b = TFileHostProcess::IdOf(links[1]).toStdString();
    host.Disable(QString::fromStdString(b));
    std::string body;
    std::string expected;
    const std::vector<std::pair<std::string, const char*>> positions = {
        {a, "0"}, {b, "1"}, {"NOSUCHID", "1"}, {"", "1"}, {a, "0"},         {a, "0"},
        {a, "0"}, {a, "0"}, {a, "0"},          {a, "0"},  {"ZZZZZZZZ", "1"}};
    for (size_t i = 0; i < positions.size(); ++i) {
        body += "id" + std::to_string(i) + "=" + positions[i].first + "&";
        expected += (i ? "&id" : "id") + std::to_string(i) + "=" + positions[i].second;
    }
    const auto result =
        Client().Post("/mgr_linkcheck.php", body, "application/x-www-form-urlencoded");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->body, expected);
    EXPECT_EQ(Client().Post("/mgr_linkcheck.php", "", "application/x-www-form-urlencoded")->body,
              "");
}

// The reports `tavilon-filehost reports` lists for the store, each split into its fields.
std::vector<QStringList> ListedReports(const TFileHostProcess& host) {
    const auto result = testenv::RunFileHostCommand(
        {QStringLiteral("reports"), QStringLiteral("--store"), host.Store()});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    std::vector<QStringList> reports;
    for (const QString& line : result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        reports.push_back(line.split(QLatin1Char('\t')));
    return reports;
}

// Sends `request` on a connection of its own and reads the answer until the server closes it;
// empty when it does not close within a few seconds.
std::string RawExchange(int port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string answer;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        ssize_t got;
        while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            answer.append(buffer, static_cast<size_t>(got));
        if (got < 0)
            answer.clear(); // not closed in time
    }
    ::close(fd);
    return answer;
}

httplib::Result PostReport(httplib::Client& client, const std::string& body) {
    return client.Post("/?c=abuse", body, "application/x-www-form-urlencoded");
}

TEST_F(FileHostServer, AbuseFormStoresAReportThatTheReportsCommandLists) {
    auto client = Client();
    const auto form = client.Get("/?c=abuse");
    ASSERT_TRUE(form);
    EXPECT_EQ(form->status, 200);
    for (const char* part : {"<form method=\"post\" action=\"/?c=abuse\">", "name=\"links\"",
                             "name=\"reason\"", "name=\"contact\""})
        EXPECT_NE(form->body.find(part), std::string::npos) << part;

    const auto thanks = PostReport(client, "links=http%3A%2F%2Fh%2F%3Fd%3DAAAA%0D%0Ahttp%3A%2F%2Fh"
                                           "%2F%3Fd%3DBBBB&reason=Not+mine%09at+all+%5Cn"
                                           "&contact=ann%40example.org");
    ASSERT_TRUE(thanks);
    EXPECT_EQ(thanks->status, 200);
    EXPECT_NE(thanks->body.find("Thank you"), std::string::npos);
    EXPECT_EQ(thanks->body.find("cut"), std::string::npos) << "nothing was cut";

    const auto reports = ListedReports(host);
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_EQ(reports[0].size(), 5);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"))
                    .match(reports[0][0])
                    .hasMatch())
        << reports[0][0].toStdString();
    EXPECT_EQ(reports[0][1], QStringLiteral("127.0.0.1"));
    EXPECT_EQ(reports[0][2], QStringLiteral("http://h/?d=AAAA\\r\\nhttp://h/?d=BBBB"));
    EXPECT_EQ(reports[0][3], QStringLiteral("Not mine\\tat all \\\\n"));
    EXPECT_EQ(reports[0][4], QStringLiteral("ann@example.org"));

    // A report that says nothing is refused and not stored; the next one follows the first.
    const auto empty = PostReport(client, "links=&reason=+&contact=me");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 400);
    ASSERT_TRUE(PostReport(client, "reason=second"));
    const auto both = ListedReports(host);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[1][3], QStringLiteral("second"));
}

TEST_F(FileHostServer, OverLongAndBinaryReportFieldsAreBoundedAndTheAnswerSaysWhatWasCut) {
    const struct {
        std::string body;
        std::vector<const char*> said; // in the answer
        int field;                     // of the listed report
        QString stored;
    } cases[] = {
        {"links=" + std::string(20000, 'L'),
         {"Links: 20000 bytes sent, the first 16384 kept."},
         2,
         QString(16384, QLatin1Char('L'))},
        {"reason=why&contact=" + std::string(600, 'c'),
         {"Contact: 600 bytes sent, the first 512 kept."},
         4,
         QString(512, QLatin1Char('c'))},
        // Control bytes are escaped, bytes that are not UTF-8 read as Latin-1; nothing is cut.
        {"reason=%00%01%1B%5B2J%7F%FF%FE",
         {},
         3,
         QString::fromUtf8("\\x00\\x01\\x1b[2J\\x7f\xC3\xBF\xC3\xBE")},
    };
    auto client = Client();
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const auto answer = PostReport(client, c.body);
        ASSERT_TRUE(answer) << i;
        EXPECT_EQ(answer->status, 200) << i;
        for (const char* text : c.said)
            EXPECT_NE(answer->body.find(text), std::string::npos) << i << ": " << text;
        if (c.said.empty()) {
            EXPECT_EQ(answer->body.find("cut"), std::string::npos) << i;
        }
        const auto reports = ListedReports(host);
        ASSERT_EQ(reports.size(), i + 1);
        ASSERT_EQ(reports[i].size(), 5) << i;
        EXPECT_EQ(reports[i][c.field], c.stored) << i;
    }
}

TEST_F(FileHostServer, BodiesOverTheirBoundAreRefusedAndTheLoginStillWorks) {
    constexpr size_t kReportBound = 64 * 1024;
    const std::string filler = "reason=" + std::string(kReportBound, 'r');
    const struct {
        const char* target;
        size_t size;
        int status;
    } cases[] = {
        {"/?c=abuse", kReportBound, 200},
        {"/?c=abuse", kReportBound + 1, 413},
        {"/?c=abuse", 1024 * 1024, 413},
        {"/", 8193, 413}, // the login form's bound, as before
    };
    for (const auto& c : cases) {
        std::string body = filler.substr(0, std::min(c.size, filler.size()));
        body.resize(c.size, 'r');
        auto client = Client();
        client.set_keep_alive(true);
        const auto answer = client.Post(c.target, body, "application/x-www-form-urlencoded");
        ASSERT_TRUE(answer) << c.target << " " << c.size;
        EXPECT_EQ(answer->status, c.status) << c.target << " " << c.size;
        // A refused body was still read to its end: the connection goes on in step.
        const auto next = client.Get("/?c=abuse");
        ASSERT_TRUE(next) << c.target << " " << c.size;
        EXPECT_EQ(next->status, 200) << c.target << " " << c.size;
    }
    // A body announced larger than the site reads at all is refused before it is sent, and the
    // connection ends.
    EXPECT_EQ(RawExchange(host.Port(), "POST /?c=abuse HTTP/1.1\r\nHost: h\r\nContent-Type: "
                                       "application/x-www-form-urlencoded\r\nContent-Length: "
                                       "2097152\r\n\r\n")
                  .substr(0, 12),
              "HTTP/1.1 413");
    // Also a body of unannounced length, sent in chunks.
    auto client = Client();
    const std::string chunk(16 * 1024, 'r');
    const auto chunked = client.Post(
        "/?c=abuse",
        [&chunk, sent = size_t(0)](size_t, httplib::DataSink& sink) mutable {
            if (sent == 0)
                sink.write("reason=", 7);
            if (sent >= 5 * chunk.size())
                sink.done();
            else
                sink.write(chunk.data(), chunk.size());
            sent += chunk.size();
            return true;
        },
        "application/x-www-form-urlencoded");
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->status, 413);
    EXPECT_EQ(ListedReports(host).size(), 1u) << "only the report within the bound";

    // The login beside the form is as it was.
    host.AddUser(QStringLiteral("ann"), QStringLiteral("secret"));
    const auto login = PostLogin("username=ann&password=secret&login=1");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->status, 302);
    EXPECT_EQ(TokenOf(login).size(), 32u);
    const auto wrong = PostLogin("username=ann&password=nope&login=1");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 200);
    EXPECT_FALSE(wrong->has_header("Set-Cookie"));
}

TEST(FileHostFaults, ResetShareCutsThatShareOfAnswersHalfway) {
    TFileHostProcess host({QStringLiteral("--reset-share"), QStringLiteral("0.5")});
    ASSERT_TRUE(host.Running());
    const std::string content = MakeContent(100000, 3);
    const QString id =
        TFileHostProcess::IdOf(host.Add({WriteSource(QStringLiteral("c.rar"), content)})[0]);
    const std::string path = "/files/" + id.toStdString() + "/c.rar";
    int whole = 0;
    int cut = 0;
    for (int i = 0; i < 10; ++i) {
        httplib::Client client("127.0.0.1", host.Port());
        std::string received;
        const auto result = client.Get(path.c_str(), [&](const char* data, size_t length) {
            received.append(data, length);
            return true;
        });
        if (result && received == content)
            ++whole;
        else if (!result && received.size() < content.size() &&
                 content.compare(0, received.size(), received) == 0)
            ++cut;
    }
    EXPECT_EQ(whole, 5);
    EXPECT_EQ(cut, 5);
}

TEST(FileHostFaults, StalledRangeHangsThenCloses) {
    TFileHostProcess host({QStringLiteral("--stall-count"), QStringLiteral("1"),
                           QStringLiteral("--stall-seconds"), QStringLiteral("1")});
    ASSERT_TRUE(host.Running());
    const std::string content = MakeContent(200000, 4);
    const QString id =
        TFileHostProcess::IdOf(host.Add({WriteSource(QStringLiteral("d.rar"), content)})[0]);
    const std::string path = "/files/" + id.toStdString() + "/d.rar";
    httplib::Client client("127.0.0.1", host.Port());
    EXPECT_TRUE(client.Get(path.c_str())); // the probe without a range is never stalled
    const auto stalled = client.Get(path.c_str(), {{"Range", "bytes=0-99999"}});
    EXPECT_FALSE(stalled);
    const auto next = client.Get(path.c_str(), {{"Range", "bytes=0-99999"}});
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->body == content.substr(0, 100000));
}

TEST(FileHostFaults, StopSignalEndsAStalledAnswer) {
    TFileHostProcess host({QStringLiteral("--stall-count"), QStringLiteral("1"),
                           QStringLiteral("--stall-seconds"), QStringLiteral("600")});
    ASSERT_TRUE(host.Running());
    const std::string content = MakeContent(200000, 6);
    const QString id =
        TFileHostProcess::IdOf(host.Add({WriteSource(QStringLiteral("s.rar"), content)})[0]);
    const std::string path = "/files/" + id.toStdString() + "/s.rar";
    std::atomic<bool> arriving = false;
    std::thread reader([&] {
        httplib::Client client("127.0.0.1", host.Port());
        client.Get(path.c_str(), {{"Range", "bytes=0-99999"}}, [&](const char*, size_t) {
            arriving = true;
            return true;
        });
    });
    for (int i = 0; i < 500 && !arriving; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(arriving);
    // The answer hangs halfway now; the stop must not wait its ten minutes out.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(host.Stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    reader.join();
}

TEST(FileHostFaults, RateLimitPacesEachConnection) {
    TFileHostProcess host({QStringLiteral("--rate-limit"), QStringLiteral("400000")});
    ASSERT_TRUE(host.Running());
    const std::string content = MakeContent(800000, 5);
    const QString id =
        TFileHostProcess::IdOf(host.Add({WriteSource(QStringLiteral("e.rar"), content)})[0]);
    httplib::Client client("127.0.0.1", host.Port());
    const auto start = std::chrono::steady_clock::now();
    const auto result = client.Get(("/files/" + id.toStdString() + "/e.rar").c_str());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->body == content);
    // 800,000 bytes at 400,000 per second cannot arrive in much less than two seconds.
    EXPECT_GE(elapsed, std::chrono::milliseconds(1800));
}

TEST(FileHostCommands, AddPrintsOneLinkPerFileInOrder) {
    const QString store = testenv::MakeTempDir();
    const auto result = testenv::RunFileHostCommand(
        {QStringLiteral("add"), QStringLiteral("--store"), store, QStringLiteral("--host"),
         QStringLiteral("files.example:81"), WriteSource(QStringLiteral("1.rar"), "1"),
         WriteSource(QStringLiteral("2.rar"), "22")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QStringList lines = result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    for (const QString& line : lines)
        EXPECT_TRUE(
            QRegularExpression(QStringLiteral("^http://files\\.example:81/\\?d=[A-Z0-9]{8}$"))
                .match(line)
                .hasMatch())
            << line.toStdString();
    const QString second = TFileHostProcess::IdOf(lines[1]);
    EXPECT_EQ(QFile(store + QStringLiteral("/files/") + second + QStringLiteral("/2.rar")).size(),
              2);
}

TEST(FileHostCommands, HelpAndUsageErrors) {
    for (const char* command : {"serve", "add-user", "add", "disable", "reports"}) {
        const auto help =
            testenv::RunFileHostCommand({QString::fromLatin1(command), QStringLiteral("--help")});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: tavilon-filehost ") +
                                        QString::fromLatin1(command)))
            << help.out.toStdString();
    }
    const QString store = testenv::MakeTempDir();
    struct ErrorCase {
        QStringList arguments;
        int exitCode;
    };
    for (const ErrorCase& error : {
             ErrorCase{{}, 2},
             ErrorCase{{QStringLiteral("frobnicate")}, 2},
             ErrorCase{{QStringLiteral("add-user"), QStringLiteral("--store"), store,
                        QStringLiteral("ann")},
                       2},
             ErrorCase{{QStringLiteral("add"), QStringLiteral("--store"), store}, 2},
             ErrorCase{{QStringLiteral("add"), QStringLiteral("--store"), store,
                        store + QStringLiteral("/missing")},
                       1},
             ErrorCase{{QStringLiteral("disable"), QStringLiteral("--store"), store,
                        QStringLiteral("NOSUCHID")},
                       1},
             ErrorCase{{QStringLiteral("reports"), QStringLiteral("--store"), store,
                        QStringLiteral("extra")},
                       2},
             ErrorCase{
                 {QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("nowhere")},
                 2},
             ErrorCase{
                 {QStringLiteral("serve"), QStringLiteral("--reset-share"), QStringLiteral("2")},
                 2},
         }) {
        const auto result = testenv::RunFileHostCommand(error.arguments);
        EXPECT_EQ(result.exitCode, error.exitCode)
            << error.arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(result.err.isEmpty());
    }
}

TEST(FileHostCommands, AnnouncesItsAddressAsTheOtherServersDo) {
    testenv::TServerProcess server(
        QStringLiteral("tavilon-filehost"),
        {QStringLiteral("serve"), QStringLiteral("--store"), testenv::MakeTempDir()});
    ASSERT_FALSE(server.Url().isEmpty());
    httplib::Client client(server.Url().toStdString());
    const auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(server.Stop(), 0);
}

TEST(FileHostCommands, ServeStopsCleanlyOnSigterm) {
    TFileHostProcess host;
    ASSERT_TRUE(host.Running());
    EXPECT_EQ(host.Stop(), 0);
}

} // namespace
