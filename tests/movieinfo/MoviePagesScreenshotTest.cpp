// Pictures of the movie information window in both modes over a title page, and of the report
// window, taken of the real (Xvfb) screen and saved under TAVILON_SCREENSHOT_DIR for a person
// to look at. The checks make sure the pictures show what they are meant to: the band in its
// colour, a page that was drawn, the report's text.
#include "MoviePages.h"
#include "movieinfo/TLinkLabel.h"
#include "movieinfo/TfrmMovieInfo.h"
#include "movieinfo/TfrmReport.h"
#include "support/Screenshots.h"
#include "webbrowser/TWebBrowser.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QWebEngineView>
#include <gtest/gtest.h>

using namespace moviepages;
using testenv::Colours;
using testenv::GrabScreen;

namespace {

// Time for the compositor to put the page on the screen after it has loaded.
constexpr int PaintSettleMs = 1500;

bool Save(const QImage& picture, const QString& name) {
    return testenv::SaveScreenshot(picture, name, QStringLiteral(TAVILON_SCREENSHOT_DIR));
}

class MoviePagesScreenshot : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "e2e tests run under xvfb-run";
        servers = StartServers();
        ASSERT_TRUE(servers->Started()) << servers->Problem().toStdString();
    }

    // Shows `frm` on the title page of Glass River and returns the screen once it is drawn.
    QImage ShowOverTitlePage(TfrmMovieInfo& frm) {
        frm.OpenTitlePage(QStringLiteral("9100002"));
        frm.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&frm));
        EXPECT_TRUE(
            WaitForPageEndingWith(frm.browser->View(), QStringLiteral("/title/tt9100002/")));
        QTest::qWait(PaintSettleMs);
        return GrabScreen();
    }

    std::unique_ptr<TBrowseServers> servers;
};

TEST_F(MoviePagesScreenshot, TheMovieInformationWindowInBothModesAndTheReportWindow) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const int bandMiddle = TfrmMovieInfo::Panel1Height / 2;
    const QRect page(0, TfrmMovieInfo::Panel1Height, screen.width(),
                     screen.height() - TfrmMovieInfo::Panel1Height - TfrmMovieInfo::Panel2Height);
    {
        TfrmMovieInfo frm;
        frm.edTitle->hide();
        frm.lbFile->setText(QStringLiteral("Glass River (1974) - DVD Rip, English"));
        frm.edTitle->setText(frm.lbFile->text());
        frm.Tag = 1;
        const QImage shot = ShowOverTitlePage(frm);
        ASSERT_TRUE(Save(shot, QStringLiteral("movieinfo-browse.png")));
        EXPECT_EQ(frm.geometry(), screen);
        // The band between the title and the buttons, in its colour.
        EXPECT_EQ(QColor(shot.pixel(screen.width() / 2, 4)), TfrmMovieInfo::Panel1Color);
        EXPECT_EQ(QColor(shot.pixel(screen.width() - 230, bandMiddle)), TfrmMovieInfo::Panel1Color);
        EXPECT_GT(Colours(shot, page), 20) << "the page was not drawn";
        // The report notice is drawn in its link colour.
        const QRect notice(frm.lbReport->mapTo(&frm, QPoint(0, 0)), frm.lbReport->size());
        bool blue = false;
        for (int y = notice.top(); y <= notice.bottom() && !blue; ++y) {
            for (int x = notice.left(); x <= notice.right() && !blue; ++x)
                blue = QColor(shot.pixel(x, y)) == TLinkLabel::LinkColor;
        }
        EXPECT_TRUE(blue) << "no text of the report notice";
    }
    {
        TfrmMovieInfo frm;
        frm.edTitle->setText(QStringLiteral("Glass River"));
        frm.Panel2->hide();
        const QImage shot = ShowOverTitlePage(frm);
        ASSERT_TRUE(Save(shot, QStringLiteral("movieinfo-confirm.png")));
        EXPECT_EQ(QColor(shot.pixel(screen.width() / 2, 4)), TfrmMovieInfo::Panel1Color);
        // Without the bottom panel the page reaches the bottom of the screen.
        EXPECT_EQ(frm.browser->geometry().bottom(), screen.bottom());
        const QRect title(frm.edTitle->mapTo(&frm, QPoint(0, 0)), frm.edTitle->size());
        EXPECT_GT(Colours(shot, title), 3) << "the title box shows no text";
    }
    {
        TfrmReport report;
        report.meLinks->setPlainText(QStringLiteral(
            "size:700.25 MB\nhttp://127.0.0.1:8181/?d=GLASS1\nhttp://127.0.0.1:8181/?d=GLASS2"));
        report.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&report));
        QTest::qWait(PaintSettleMs);
        const QImage shot = GrabScreen();
        ASSERT_TRUE(Save(shot.copy(report.frameGeometry()), QStringLiteral("report.png")));
        const QRect links(report.meLinks->mapToGlobal(QPoint(0, 0)), report.meLinks->size());
        EXPECT_GT(Colours(shot, links), 3) << "the links are not shown";
    }
}

} // namespace
