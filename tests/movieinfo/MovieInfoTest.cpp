#include "MoviePages.h"
#include "api/Ttavilonapi.h"
#include "browse/TMainForm.h"
#include "catalogue/GetCatalogueService.h"
#include "core/Errors.h"
#include "movieinfo/MovieAddresses.h"
#include "movieinfo/TLinkLabel.h"
#include "movieinfo/TfrmMovieInfo.h"
#include "movieinfo/TfrmReport.h"
#include "platform/OptionDefaults.h"
#include "platform/OptionsManager.h"
#include "support/ScriptedInteraction.h"
#include "support/TestHttpServer.h"
#include "webbrowser/TWebBrowser.h"

#include <QDesktopServices>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QWebEngineView>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using namespace moviepages;

// Texts in failure messages as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

const QString GlassRiverId = QStringLiteral("9100002");
constexpr qint64 VideoSize = 734265344; // "700.25 MB"

// The addresses QDesktopServices was asked to open, instead of a real browser.
class TUrlRecorder : public QObject {
    Q_OBJECT

public:
    TUrlRecorder() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "Open"); }
    ~TUrlRecorder() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }
    QList<QUrl> opened;

public slots:
    void Open(const QUrl& url) { opened.append(url); }
};

// An environment variable set for one scope.
class TScopedVariable {
public:
    TScopedVariable(const char* name, const QByteArray& value)
        : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
        qputenv(name, value);
    }
    ~TScopedVariable() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    QByteArray old_;
    bool had_;
};

// A SOAP call the catalogue proxy saw: the operation's parameters as texts, arrays as lists.
struct TSoapCall {
    QString title;
    QStringList items;
};

std::vector<TSoapCall> SoapCalls(const TRecordingProxy& proxy, const QString& operation) {
    std::vector<TSoapCall> calls;
    for (const TRecordingProxy::TRequest& request : proxy.Requests()) {
        const QString body = QString::fromStdString(request.body);
        if (request.method != "POST" || !body.contains(operation))
            continue;
        TSoapCall call;
        QXmlStreamReader xml(body);
        int inArray = 0;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement() && xml.name() == QLatin1String("links")) {
                inArray = 1;
            } else if (xml.isEndElement() && xml.name() == QLatin1String("links")) {
                inArray = 0;
            } else if (xml.isStartElement() && inArray) {
                call.items.append(xml.readElementText());
            } else if (xml.isStartElement() && xml.name() == QLatin1String("title")) {
                call.title = xml.readElementText();
            }
        }
        calls.push_back(call);
    }
    return calls;
}

class MoviePagesTest : public testing::Test {
protected:
    void SetUp() override {
        servers = StartServers();
        ASSERT_TRUE(servers->Started()) << servers->Problem().toStdString();
        form = std::make_unique<TMainForm>();
        ASSERT_NE(tavilonapi, nullptr);
        ASSERT_FALSE(form->CoverPanels.isEmpty());
        glassRiverVideo = form->CoverPanels[0]->Tag;
        site = QString::fromStdString(servers->metadataProxy->Url());
        interaction.errors.clear();
        servers->metadataProxy->Clear();
        servers->catalogueProxy->Clear();
        // As the program does: the data module asks the main window; the test sees each answer.
        tavilonapi->SetOnConfirmImdbTitle([this](QString& title, QString& imdbId) {
            form->ConfirmImdbTitle(title, imdbId);
            confirmations.push_back({title, imdbId});
        });
    }

    void TearDown() override {
        form.reset();
        delete tavilonapi;
        servers.reset();
    }

    int CatalogueCalls(const char* operation) const {
        return static_cast<int>(
            SoapCalls(*servers->catalogueProxy, QLatin1String(operation)).size());
    }

    TScriptedInteraction interaction;
    std::unique_ptr<TBrowseServers> servers;
    std::unique_ptr<TMainForm> form;
    qint64 glassRiverVideo = 0;
    QString site;
    // What each ConfirmImdbTitle gave back.
    struct TConfirmation {
        QString title;
        QString imdbId;
    };
    std::vector<TConfirmation> confirmations;
};

TEST_F(MoviePagesTest, TheWindowCoversTheWholeScreenAtEveryShow) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_EQ(screen, QRect(0, 0, 1280, 1024));
    TfrmMovieInfo frm(form.get());
    for (const QSize size : {QSize(300, 200), QSize(2000, 90)}) {
        frm.resize(size);
        frm.show();
        EXPECT_EQ(frm.geometry(), screen);
        EXPECT_EQ(frm.Panel1->height(), TfrmMovieInfo::Panel1Height);
        EXPECT_EQ(frm.Panel2->height(), TfrmMovieInfo::Panel2Height);
        EXPECT_EQ(frm.browser->geometry().top(), TfrmMovieInfo::Panel1Height);
        EXPECT_EQ(frm.browser->geometry().bottom() + 1,
                  screen.height() - TfrmMovieInfo::Panel2Height);
        frm.hide();
    }
}

TEST_F(MoviePagesTest, BrowseModeShowsTheEntryAndPlayStartsItWhicheverPageIsShown) {
    std::vector<std::pair<qint64, QString>> played;
    form->SetOnPlayVideo(
        [&](qint64 video, const QString& description) { played.emplace_back(video, description); });

    // An entry without an IMDb id opens the page of the empty id; closing plays nothing.
    TWhenModal<TfrmMovieInfo> look([&](TfrmMovieInfo* frm) {
        EXPECT_TRUE(WaitForPageEndingWith(frm->browser->View(), QStringLiteral("/title/tt/")));
        EXPECT_EQ(frm->browser->LocationURL(), site + QStringLiteral("/title/tt/"));
        QTest::mouseClick(frm->btnClose, Qt::LeftButton);
    });
    form->ShowMovieInfo(QString(), glassRiverVideo, QStringLiteral("Untitled"));
    EXPECT_TRUE(look.ran);
    EXPECT_EQ(servers->metadataProxy->Count("/title/tt/"), 1);
    EXPECT_TRUE(played.empty());

    // The user follows a link away from the title page, then presses Play.
    const QString description = QStringLiteral("Glass River\nDVD Rip, English");
    TWhenModal<TfrmMovieInfo> follow([&](TfrmMovieInfo* frm) {
        EXPECT_EQ(frm->geometry(), QGuiApplication::primaryScreen()->geometry());
        EXPECT_TRUE(frm->edTitle->isHidden());
        EXPECT_EQ(frm->lbFile->text(), description);
        EXPECT_EQ(frm->edTitle->text(), description);
        EXPECT_EQ(frm->Tag, glassRiverVideo);
        EXPECT_TRUE(frm->Panel2->isVisible());
        QWebEngineView* view = frm->browser->View();
        ASSERT_TRUE(WaitForPageEndingWith(view, QStringLiteral("/title/tt9100002/")));
        ASSERT_FALSE(ClickLink(view, QStringLiteral("/poster/")).isEmpty());
        QTest::mouseClick(frm->btnPlay, Qt::LeftButton);
    });
    form->ShowMovieInfo(GlassRiverId, glassRiverVideo, description);
    EXPECT_TRUE(follow.ran);
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].first, glassRiverVideo);
    EXPECT_EQ(played[0].second, description);
    EXPECT_TRUE(interaction.errors.isEmpty()) << interaction.errors.join('\n').toStdString();
}

TEST_F(MoviePagesTest, BackOrForwardWithNoPageThereIsReportedAndTheWindowStays) {
    TfrmMovieInfo frm(form.get());
    frm.OpenTitlePage(GlassRiverId);
    frm.show();
    QWebEngineView* view = frm.browser->View();
    ASSERT_TRUE(WaitForPageEndingWith(view, QStringLiteral("/title/tt9100002/")));

    QTest::mouseClick(frm.btnPrevious, Qt::LeftButton);
    QTest::mouseClick(frm.btnNext, Qt::LeftButton);
    EXPECT_EQ(interaction.errors,
              QStringList({TWebBrowser::NoPageBackText, TWebBrowser::NoPageForwardText}));
    EXPECT_TRUE(frm.isVisible());

    // With pages on either side, the buttons move through them.
    const QString poster = ClickLink(view, QStringLiteral("/poster/"));
    ASSERT_FALSE(poster.isEmpty());
    QTest::mouseClick(frm.btnPrevious, Qt::LeftButton);
    EXPECT_TRUE(WaitForPageEndingWith(view, QStringLiteral("/title/tt9100002/")));
    QTest::mouseClick(frm.btnNext, Qt::LeftButton);
    EXPECT_TRUE(WaitForPage(view, [&](const QString& address) { return address == poster; }));
    EXPECT_EQ(frm.browser->LocationURL(), poster);
    EXPECT_EQ(interaction.errors.size(), 2);
}

// How the user reaches the page confirmed, and what comes of it. The rows that click a link to
// another title or to a title's sub-page need the metadata site's title pages to carry such links.
struct TConfirmCase {
    // The row's name in the test's name.
    const char* name;
    // Brings the window to the page to confirm; returns its address, empty when it failed.
    std::function<QString(TfrmMovieInfo*, TTestHttpServer&)> reach;
    // The id ConfirmImdbTitle gives for that address.
    std::function<QString(const QString&)> id;
    bool registered;
};

void PrintTo(const TConfirmCase& c, std::ostream* out) {
    *out << c.name;
}

const TConfirmCase ConfirmCases[] = {
    {"ThePageFound",
     [](TfrmMovieInfo* frm, TTestHttpServer&) { return frm->browser->LocationURL(); },
     [](const QString&) { return GlassRiverId; }, true},
    {"AnotherTitleReachedByAClick",
     [](TfrmMovieInfo* frm, TTestHttpServer&) {
         return ClickLink(frm->browser->View(), QStringLiteral("/title/tt(?!9100002/)\\d+/?$"));
     },
     [](const QString& address) {
         static const QRegularExpression digits(QStringLiteral("/title/tt(\\d+)/?$"));
         return digits.match(address).captured(1);
     },
     true},
    {"ASubPageOfTheTitleReachedByAClick",
     [](TfrmMovieInfo* frm, TTestHttpServer&) {
         return ClickLink(frm->browser->View(), QStringLiteral("/title/tt9100002/plotsummary/?$"));
     },
     [](const QString&) { return QStringLiteral("9100002plotsummary"); }, false},
    {"APageOfAnotherSite",
     [](TfrmMovieInfo* frm, TTestHttpServer& elsewhere) {
         const QString address = QString::fromStdString(elsewhere.Url("/reviews/glass-river.html"));
         frm->browser->Navigate(address);
         return WaitForPage(frm->browser->View(),
                            [&](const QString& shown) { return shown == address; })
                    ? address
                    : QString();
     },
     [](const QString& address) { return QString(address).remove(QLatin1Char('/')); }, false},
};

class MoviePagesConfirm : public MoviePagesTest,
                          public testing::WithParamInterface<TConfirmCase> {};

TEST_P(MoviePagesConfirm, TakesTheIdOfThePageShownAndOnlyATitlesIdIsRegistered) {
    const TConfirmCase& c = GetParam();
    TTestHttpServer elsewhere;
    elsewhere.AddPage("/reviews/glass-river.html", 200,
                      "<html><body><h1>A review of Glass River</h1></body></html>");
    elsewhere.Start();
    // A setting written loosely: capitals, trailing slashes. Pages and ids still match.
    const TScopedVariable loose(
        "TAVILON_METADATA_URL",
        QString(site).replace(QStringLiteral("http://"), QStringLiteral("HTTP://")).toUtf8() +
            "//");
    const QStringList links = {QStringLiteral("http://127.0.0.1:9/?d=NEWA"),
                               QStringLiteral("http://127.0.0.1:9/?d=NEWB")};
    const QString file = QStringLiteral("/videos/Glass.River.1974.DVDRip.XviD.avi");

    QString reached;
    TWhenModal<TfrmMovieInfo> confirm([&](TfrmMovieInfo* frm) {
        EXPECT_TRUE(frm->edTitle->isVisible());
        EXPECT_EQ(frm->edTitle->text(), QStringLiteral("Glass River"));
        EXPECT_TRUE(frm->Panel2->isHidden());
        EXPECT_EQ(frm->Tag, 0);
        ASSERT_TRUE(
            WaitForPageEndingWith(frm->browser->View(), QStringLiteral("/title/tt9100002/")));
        EXPECT_EQ(frm->browser->LocationURL(), site + QStringLiteral("/title/tt9100002/"));
        reached = c.reach(frm, elsewhere);
        ASSERT_FALSE(reached.isEmpty())
            << "the page to confirm was not reached (no such link on the title page, or the "
               "page it leads to did not load)";
        frm->edTitle->setFocus();
        frm->edTitle->end(false);
        QTest::keyClicks(frm->edTitle, QStringLiteral(" (1974)"));
        QTest::mouseClick(frm->btnPlay, Qt::LeftButton);
    });
    QString failure;
    try {
        tavilonapi->SendVideoInfo(file, links, QStringLiteral("pw"), VideoSize);
    } catch (const Exception& e) {
        failure = e.Message();
    }
    ASSERT_TRUE(confirm.ran);
    ASSERT_FALSE(reached.isEmpty());

    EXPECT_EQ(CatalogueCalls("checkvideo"), 1);
    EXPECT_EQ(servers->metadataProxy->Count("/find?q=Glass+River;mx=20;tt=on"), 1);
    ASSERT_EQ(confirmations.size(), 1u);
    EXPECT_EQ(confirmations[0].title, QStringLiteral("Glass River (1974)"));
    const QString id = c.id(reached);
    EXPECT_EQ(confirmations[0].imdbId, id);

    const std::vector<TSoapCall> registrations =
        SoapCalls(*servers->catalogueProxy, QStringLiteral("registervideo"));
    if (!c.registered) {
        EXPECT_EQ(failure, Ttavilonapi::NotATitlePageText);
        EXPECT_TRUE(registrations.empty());
        return;
    }
    EXPECT_EQ(failure, QString());
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].title, QStringLiteral("Glass River (1974)"));
    EXPECT_EQ(registrations[0].items,
              QStringList({QStringLiteral("password:pw"), QStringLiteral("size:700.25 MB"),
                           QStringLiteral("file:Glass.River.1974.DVDRip.XviD.avi"),
                           QStringLiteral("quality:DVD Rip"), QStringLiteral("lang:English"),
                           QStringLiteral("imdbid:") + id}) +
                  links);
    // The server has it now.
    EXPECT_TRUE(GetCatalogueService()->checkvideo(links));
}

INSTANTIATE_TEST_SUITE_P(Pages, MoviePagesConfirm, testing::ValuesIn(ConfirmCases),
                         [](const testing::TestParamInfo<TConfirmCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(MoviePagesTest, AKnownVideoIsAskedAboutOnceAndNothingElseHappens) {
    tavilonapi->SendVideoInfo(QStringLiteral("/videos/Glass.River.1974.DVDRip.XviD.avi"),
                              GlassRiverLinkLines(), QStringLiteral("secret"), VideoSize);
    ASSERT_EQ(servers->catalogueProxy->Requests().size(), 1u);
    const std::vector<TSoapCall> questions =
        SoapCalls(*servers->catalogueProxy, QStringLiteral("checkvideo"));
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].items,
              QStringList({QStringLiteral("password:secret"), QStringLiteral("size:700.25 MB")}) +
                  GlassRiverLinkLines());
    EXPECT_TRUE(confirmations.empty());
    EXPECT_EQ(servers->metadataProxy->Requests().size(), 0u);
}

// An unknown video whose confirmation window the user closes: the page of the title found, or
// of the empty id when the search finds none, and nothing registered.
TEST_F(MoviePagesTest, AnUnknownVideoDeclinedIsSearchedShownAndNotRegistered) {
    const struct {
        const char* file;
        const char* title;
        const char* search;
        const char* page;
    } rows[] = {
        {"Glass.River.1974.DVDRip.avi", "Glass River", "/find?q=Glass+River;mx=20;tt=on",
         "/title/tt9100002/"},
        {"Unlisted.Picture.avi", "Unlisted Picture", "/find?q=Unlisted+Picture;mx=20;tt=on",
         "/title/tt/"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        servers->catalogueProxy->Clear();
        servers->metadataProxy->Clear();
        confirmations.clear();
        TWhenModal<TfrmMovieInfo> decline([&](TfrmMovieInfo* frm) {
            EXPECT_TRUE(WaitForPageEndingWith(frm->browser->View(), QLatin1String(row.page)));
            EXPECT_EQ(frm->browser->LocationURL(), site + QLatin1String(row.page));
            QTest::mouseClick(frm->btnClose, Qt::LeftButton);
        });
        tavilonapi->SendVideoInfo(QStringLiteral("/videos/") + QLatin1String(row.file),
                                  {QStringLiteral("http://127.0.0.1:9/?d=UNKNOWN")}, QString(),
                                  VideoSize);
        EXPECT_TRUE(decline.ran);
        EXPECT_EQ(CatalogueCalls("checkvideo"), 1);
        EXPECT_EQ(CatalogueCalls("registervideo"), 0);
        EXPECT_EQ(servers->metadataProxy->Count("/find"), 1);
        EXPECT_EQ(servers->metadataProxy->Count(row.search), 1);
        EXPECT_EQ(servers->metadataProxy->Count(row.page), 1);
        ASSERT_EQ(confirmations.size(), 1u);
        EXPECT_EQ(confirmations[0].title, QLatin1String(row.title));
        EXPECT_EQ(confirmations[0].imdbId, QString());
    }
}

TEST_F(MoviePagesTest, TheReportShowsTheLinesWithoutPasswordAndOpensTheAbusePage) {
    TTestHttpServer catalogue;
    catalogue.AddPage("/tavilonserver.php", 200,
                      "password:secret\r\nsize:700.00 MB\r\nhttp://127.0.0.1:9/?d=A\r\n"
                      "a note with password: inside\r\nPassword:Shown\r\n"
                      "http://127.0.0.1:9/?d=B\r\npassword:another\r\n",
                      {}, "text/plain");
    catalogue.Start();
    OptionsManager()
        .FindSection(ServerSection)
        ->SetString(QStringLiteral("DefaultServer"),
                    QString::fromStdString(catalogue.Url("/tavilonserver.php")));
    // The file host's address as an operator may write it.
    const TScopedVariable fileHost("TAVILON_FILEHOST_URL", "HTTP://Files.Example:80/upload/");
    TUrlRecorder browser;

    TfrmMovieInfo frm(form.get());
    frm.Tag = 7;
    frm.show();
    EXPECT_TRUE(frm.lbReport->text().contains(QStringLiteral(" files.example.")))
        << frm.lbReport->text().toStdString();
    EXPECT_TRUE(frm.lbReport->wordWrap());
    EXPECT_TRUE(frm.lbReport->font().underline());

    TWhenModal<TfrmReport> look([&](TfrmReport* report) {
        EXPECT_EQ(report->windowTitle(), QStringLiteral("Report abuse"));
        EXPECT_EQ(report->size(), QSize(562, 294));
        const QPoint middle = QGuiApplication::primaryScreen()->availableGeometry().center();
        EXPECT_LE((report->frameGeometry().center() - middle).manhattanLength(), 2);
        EXPECT_TRUE(report->meLinks->isReadOnly());
        EXPECT_TRUE(QFontInfo(report->meLinks->font()).fixedPitch());
        EXPECT_EQ(report->meLinks->toPlainText().split(QLatin1Char('\n')),
                  QStringList({QStringLiteral("size:700.00 MB"),
                               QStringLiteral("http://127.0.0.1:9/?d=A"),
                               QStringLiteral("Password:Shown"),
                               QStringLiteral("http://127.0.0.1:9/?d=B")}));
        EXPECT_EQ(report->lbWeb->text(), QStringLiteral("http://files.example/?c=abuse"));
        QTest::mouseClick(report->lbWeb, Qt::LeftButton);
        report->close();
    });
    QTest::mouseClick(frm.lbReport, Qt::LeftButton);
    EXPECT_TRUE(look.ran);
    const auto requests = catalogue.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].query, "id=7");
    EXPECT_EQ(browser.opened, QList<QUrl>{QUrl(QStringLiteral("http://files.example/?c=abuse"))});
    EXPECT_TRUE(frm.isVisible());
    EXPECT_TRUE(interaction.errors.isEmpty()) << interaction.errors.join('\n').toStdString();
}

TEST_F(MoviePagesTest, TheReportShowsTheCataloguesLinesOfTheVideoInTheTag) {
    TfrmMovieInfo frm(form.get());
    frm.Tag = glassRiverVideo;
    frm.show();
    QString shown;
    TWhenModal<TfrmReport> look(
        [&](TfrmReport* report) { shown = report->meLinks->toPlainText(); });
    QTest::mouseClick(frm.lbReport, Qt::LeftButton);
    EXPECT_TRUE(look.ran);
    EXPECT_EQ(shown.split(QLatin1Char('\n')), GlassRiverLinkLines());
    EXPECT_EQ(
        servers->catalogueProxy->Count("/tavilonserver.php?id=" + std::to_string(glassRiverVideo)),
        1);
}

// No report window: when the catalogue fails (the error is reported, the window stays), and
// when the window was closed while the lines were on their way (further clicks meanwhile are
// ignored).
TEST_F(MoviePagesTest, TheReportIsNotShownWhenTheLinesFailOrTheWindowClosedMeanwhile) {
    const struct {
        const char* name;
        bool knownVideo;
        bool closeWhileWaiting;
        int errors;
        bool windowStays;
    } rows[] = {
        {"a video the catalogue does not have", false, false, 1, true},
        {"the window closed while waiting", true, true, 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        servers->catalogueProxy->Clear();
        interaction.errors.clear();
        servers->catalogueProxy->SetDelay("/tavilonserver.php", row.closeWhileWaiting ? 1500 : 0);
        TfrmMovieInfo frm(form.get());
        frm.Tag = row.knownVideo ? glassRiverVideo : 999999;
        frm.show();
        TWhenModal<TfrmReport> report([](TfrmReport*) {});
        if (row.closeWhileWaiting) {
            QTimer::singleShot(300, &frm, [&frm] {
                QTest::mouseClick(frm.lbReport, Qt::LeftButton);
                QTest::mouseClick(frm.btnClose, Qt::LeftButton);
            });
        }
        QTest::mouseClick(frm.lbReport, Qt::LeftButton);
        EXPECT_FALSE(report.ran);
        EXPECT_EQ(servers->catalogueProxy->Count("/tavilonserver.php?id="), 1);
        EXPECT_EQ(interaction.errors.size(), row.errors)
            << interaction.errors.join('\n').toStdString();
        EXPECT_EQ(frm.isVisible(), row.windowStays);
    }
    servers->catalogueProxy->SetDelay("/tavilonserver.php", 0);
}

TEST(MovieAddresses, SettingsWrittenDifferentlyGiveOneAddressAndTheIdRuleHolds) {
    const struct {
        const char* setting;
        const char* site;
    } sites[] = {
        {"http://127.0.0.1:8182/", "http://127.0.0.1:8182"},
        {"HTTP://Meta.Example:80//", "http://meta.example"},
        {"https://meta.example:443/imdb/", "https://meta.example/imdb"},
        {"http://meta.example:8080", "http://meta.example:8080"},
    };
    for (const auto& s : sites)
        EXPECT_EQ(NormalizedSiteAddress(QLatin1String(s.setting)), QLatin1String(s.site))
            << s.setting;

    const QString site = QStringLiteral("http://meta.example");
    EXPECT_EQ(ImdbTitlePage(site, QStringLiteral("0123")), site + QStringLiteral("/title/tt0123/"));
    // An id that is not made of digits goes into no address.
    for (const char* notAnId : {"", "12a", "1/../../x"})
        EXPECT_EQ(ImdbTitlePage(site, QLatin1String(notAnId)), site + QStringLiteral("/title/tt/"));

    const QString prefix = ImdbTitlePrefix(site);
    const struct {
        const char* location;
        const char* id;
    } ids[] = {
        {"http://meta.example/title/tt0123/", "0123"},
        {"HTTP://META.EXAMPLE/TITLE/TT0123/", "0123"},
        {"http://meta.example/title/tt0123/plotsummary", "0123plotsummary"},
        {"http://meta.example/title/tt/", ""},
        {"http://other.example/page/", "http:other.examplepage"},
    };
    for (const auto& i : ids)
        EXPECT_EQ(ImdbIdFromAddress(QLatin1String(i.location), prefix), QLatin1String(i.id))
            << i.location;
}

} // namespace

#include "MovieInfoTest.moc"
