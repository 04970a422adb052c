#include "BrowseFixture.h"
#include "api/Ttavilonapi.h"
#include "browse/CoverCaption.h"
#include "browse/TCloseUpComboBox.h"
#include "browse/TGradientLabel.h"
#include "browse/TMainForm.h"
#include "platform/OptionDefaults.h"
#include "platform/OptionsManager.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class MainForm : public testing::Test {
protected:
    void SetUp() override {
        servers = std::make_unique<TBrowseServers>();
        ASSERT_TRUE(servers->Started()) << servers->Problem().toStdString();
    }

    void TearDown() override {
        form.reset();
        delete tavilonapi;
        servers.reset();
    }

    // Creates the window, which loads the first page.
    void Open() {
        form = std::make_unique<TMainForm>();
        ASSERT_NE(tavilonapi, nullptr);
        ASSERT_EQ(tavilonapi->Folders.ImagesDir, servers->ImagesDir());
    }

    // Shows the window and makes it the active one, for keyboard tests.
    void ShowActive() {
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    void Search(const QString& text) {
        form->edSearch->setText(text);
        form->btnSearchClick();
    }

    // The visible panels in grid order.
    QList<TCoverPanel*> Shown() const {
        QList<TCoverPanel*> shown;
        for (TCoverPanel* panel : form->CoverPanels) {
            if (!panel->isHidden())
                shown.append(panel);
        }
        return shown;
    }

    TCoverPanel* PanelWithCaption(const QString& caption) const {
        for (TCoverPanel* panel : Shown()) {
            if (panel->Caption() == caption)
                return panel;
        }
        return nullptr;
    }

    QString Markup(const QString& picture) const {
        return QStringLiteral("<IMG src=\"%1\" width=\"%2\" height=\"%3\">")
            .arg(picture)
            .arg(form->CellWidth - 3 * form->ImageMargin)
            .arg(form->CellHeight - 3 * form->ImageMargin);
    }

    TBrowseServers::TPageRequest LastPage() const {
        const auto pages = servers->PageRequests();
        return pages.empty() ? TBrowseServers::TPageRequest() : pages.back();
    }

    std::unique_ptr<TBrowseServers> servers;
    std::unique_ptr<TMainForm> form;
};

TEST_F(MainForm, PagesForwardAndBackAndSendsNothingBeforeTheFirstPage) {
    Open();
    ASSERT_EQ(servers->PageRequests().size(), 1u);
    EXPECT_EQ(LastPage().start, 0);
    EXPECT_EQ(LastPage().limit, 18);
    EXPECT_EQ(LastPage().search, QString());
    EXPECT_EQ(LastPage().type, 0);
    EXPECT_EQ(form->statusLabel->text(), QStringLiteral("0 to 18 (of 40)"));
    EXPECT_EQ(Shown().size(), 18);

    const struct {
        QPushButton* button;
        qint64 start;
        const char* status;
        int shown;
    } steps[] = {
        {form->btnNext, 18, "18 to 36 (of 40)", 18},
        {form->btnNext, 36, "36 to 54 (of 40)", 4}, // a short page hides the panels after it
        {form->btnPrevious, 18, "18 to 36 (of 40)", 18},
        {form->btnPrevious, 0, "0 to 18 (of 40)", 18},
    };
    for (const auto& step : steps) {
        step.button->click();
        EXPECT_EQ(LastPage().start, step.start);
        EXPECT_EQ(form->statusLabel->text(), QLatin1String(step.status));
        EXPECT_EQ(Shown().size(), step.shown) << step.status;
        EXPECT_EQ(form->PanelImdbIds.size(), step.shown);
    }
    const QList<TCoverPanel*> shortPage = form->CoverPanels.mid(0, 4);
    EXPECT_EQ(Shown().mid(0, 4), shortPage);

    const size_t before = servers->PageRequests().size();
    form->btnPrevious->click();
    EXPECT_EQ(servers->PageRequests().size(), before) << "no request before the first page";
    EXPECT_EQ(form->PageOffset, 0);
    EXPECT_EQ(form->statusLabel->text(), QStringLiteral("0 to 18 (of 40)"));
}

TEST_F(MainForm, PageDownAndPageUpPage) {
    Open();
    ShowActive();
    QTest::keyClick(form.get(), Qt::Key_PageDown);
    EXPECT_EQ(LastPage().start, 18);
    QTest::keyClick(form.get(), Qt::Key_PageUp);
    EXPECT_EQ(LastPage().start, 0);
    EXPECT_EQ(servers->PageRequests().size(), 3u);
}

TEST_F(MainForm, EnterInTheSearchBoxSearchesFromTheFirstPageAndTypesNothing) {
    Open();
    form->btnNextClick();
    ShowActive();
    form->edSearch->setFocus();
    QTest::keyClicks(form->edSearch, QStringLiteral("Caf"));
    QTest::keyClick(form->edSearch, Qt::Key_Return);
    EXPECT_EQ(form->edSearch->text(), QStringLiteral("Caf"));
    EXPECT_EQ(LastPage().search, QStringLiteral("Caf"));
    EXPECT_EQ(LastPage().start, 0);
    EXPECT_EQ(form->statusLabel->text(), QStringLiteral("0 to 18 (of 3)"));

    // Numeric references with upper-case hexadecimal digits and decimal ones are decoded,
    // lower-case hexadecimal digits are left alone.
    QStringList captions;
    for (TCoverPanel* panel : Shown())
        captions.append(panel->Caption());
    captions.sort();
    EXPECT_EQ(captions, (QStringList{QStringLiteral("Caf&#xe9;"), QStringLiteral("Caf\u00e9"),
                                     QStringLiteral("Caf\u00e9")}));
}

TEST_F(MainForm, AWideTitleIsShortenedAndANarrowOneIsNot) {
    Open();
    Search(QStringLiteral("Short"));
    ASSERT_EQ(Shown().size(), 1);
    EXPECT_EQ(Shown()[0]->Caption(), QStringLiteral("Short"));

    Search(QStringLiteral("Remarkably"));
    ASSERT_EQ(Shown().size(), 1);
    const QString title = QStringLiteral("Remarkably Long Title For A Small Cell Indeed");
    const QString caption = Shown()[0]->Caption();
    ASSERT_TRUE(caption.endsWith(QLatin1String("..."))) << caption.toStdString();
    const QString start = caption.chopped(3);
    EXPECT_TRUE(title.startsWith(start));
    EXPECT_LE(start.size(), MaxShortCaptionLength);
    // What is kept is the longest start that fits the cell with "...", cut to 17 characters.
    const QFontMetrics metrics(form->font());
    EXPECT_LE(metrics.horizontalAdvance(caption), form->CellWidth);
    if (start.size() < MaxShortCaptionLength) {
        EXPECT_GT(metrics.horizontalAdvance(title.left(start.size() + 1) + "..."), form->CellWidth);
    }
}

TEST_F(MainForm, AnEmptyIdShowsThePlaceholderWithoutAnyRequest) {
    Open();
    Search(QStringLiteral("Blank"));
    ASSERT_EQ(Shown().size(), 1);
    TCoverPanel* panel = Shown()[0];
    EXPECT_EQ(panel->PictureCaption(), Markup(QStringLiteral("noimage.png")));
    EXPECT_EQ(panel->Caption(), QStringLiteral("Blank Id Entry"));
    EXPECT_EQ(panel->toolTip(), QStringLiteral("DVD Rip - English"));
    EXPECT_GT(panel->Tag, 0);
    EXPECT_EQ(form->PanelImdbIds, QStringList{QString()});
    EXPECT_EQ(servers->metadataProxy->Requests().size(), 0u);
    const QImage* placeholder = form->images.Find(QStringLiteral("NOIMAGE.PNG"));
    ASSERT_NE(placeholder, nullptr);
    EXPECT_FALSE(placeholder->isNull());
}

TEST_F(MainForm, AMissingCoverIsFetchedOnceAndThenShownFromItsFile) {
    Open();
    Search(QStringLiteral("Covered"));
    ASSERT_EQ(Shown().size(), 2);
    for (const char* id : {"0000001", "0000002"}) {
        const std::string page = std::string("/title/tt") + id + "/";
        const std::string poster = std::string("/poster/tt") + id + ".png";
        EXPECT_EQ(servers->metadataProxy->Count(page), 1) << page;
        EXPECT_EQ(servers->metadataProxy->Count(poster), 1) << poster;
        const QString cover = servers->ImagesDir() + QLatin1String(id) + QStringLiteral(".jpg");
        EXPECT_EQ(ReadFile(cover), servers->Poster(QLatin1String(id)));
        const QImage* picture = form->images.Find(QLatin1String(id));
        ASSERT_NE(picture, nullptr);
        EXPECT_FALSE(picture->isNull());
    }
    TCoverPanel* covered = PanelWithCaption(QStringLiteral("Covered One"));
    ASSERT_NE(covered, nullptr);
    EXPECT_EQ(covered->PictureCaption(), Markup(QStringLiteral("0000001")));

    const int pictures = form->images.Count();
    const size_t requests = servers->metadataProxy->Requests().size();
    for (int view = 0; view < 3; ++view)
        Search(QStringLiteral("Covered"));
    EXPECT_EQ(servers->metadataProxy->Requests().size(), requests);
    EXPECT_EQ(form->images.Count(), pictures) << "one picture per id, not one per view";
}

TEST_F(MainForm, ACoverFileOnDiskIsShownWithoutAnyRequestAlsoTheCopiedPlaceholder) {
    QImage own(20, 20, QImage::Format_RGB32);
    own.fill(Qt::green);
    ASSERT_TRUE(own.save(servers->ImagesDir() + QStringLiteral("0000001.jpg"), "PNG"));
    ASSERT_TRUE(own.save(servers->ImagesDir() + QStringLiteral("0000002.jpg"), "PNG"));
    Open();
    Search(QStringLiteral("Covered"));
    EXPECT_EQ(servers->metadataProxy->Requests().size(), 0u);
    const QImage* picture = form->images.Find(QStringLiteral("0000001"));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->pixelColor(5, 5), QColor(Qt::green));

    // A title page without a poster: the placeholder becomes the id's cover for good.
    Search(QStringLiteral("Plain"));
    EXPECT_EQ(servers->metadataProxy->Count("/title/tt0000006/"), 1);
    EXPECT_EQ(servers->metadataProxy->Requests().size(), 1u);
    EXPECT_EQ(ReadFile(servers->ImagesDir() + QStringLiteral("0000006.jpg")),
              ReadFile(servers->ImagesDir() + QStringLiteral("noimage.png")));
    EXPECT_EQ(Shown()[0]->PictureCaption(), Markup(QStringLiteral("0000006")));
    Search(QStringLiteral("Plain"));
    EXPECT_EQ(servers->metadataProxy->Requests().size(), 1u);
}

TEST_F(MainForm, AFailedCoverLeavesNoFileFillsThePageReportsOnceAndIsTriedAgain) {
    const struct {
        const char* failing; // made to fail by the proxy, or empty
        const char* search;
        const char* brokenTitle;
        const char* brokenId;
        const char* goodTitle;
        const char* goodId;
    } cases[] = {
        // The title page is not found (the site does not know the id).
        {"", "Broken", "Broken Page", "0000099", "Broken Next", "0000003"},
        // The poster download fails after the title page named it.
        {"/poster/tt0000003.png", "Broken", "Broken Next", "0000003", "Broken Page", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
        TearDown();
        SetUp();
        if (*c.failing)
            servers->metadataProxy->SetFailure(c.failing, 500);
        TScriptedInteraction interaction;
        Open();
        Search(QLatin1String(c.search));
        ASSERT_EQ(Shown().size(), 2);
        EXPECT_EQ(interaction.errors.size(), 1) << interaction.errors.join('|').toStdString();
        TCoverPanel* broken = PanelWithCaption(QLatin1String(c.brokenTitle));
        ASSERT_NE(broken, nullptr) << "the failed entry is filled, not left loading";
        EXPECT_EQ(broken->PictureCaption(), Markup(QStringLiteral("noimage.png")));
        TCoverPanel* good = PanelWithCaption(QLatin1String(c.goodTitle));
        ASSERT_NE(good, nullptr) << "the rest of the page fills: "
                                 << Shown()[0]->Caption().toStdString() << ", "
                                 << Shown()[1]->Caption().toStdString();
        if (*c.goodId) {
            EXPECT_EQ(good->PictureCaption(), Markup(QLatin1String(c.goodId)));
        }
        // Nothing of the failed cover is left in the images folder, not even a partial file.
        QStringList files = QDir(servers->ImagesDir()).entryList(QDir::Files);
        EXPECT_FALSE(files.contains(QLatin1String(c.brokenId) + QStringLiteral(".jpg")));
        for (const QString& file : files)
            EXPECT_TRUE(file == QLatin1String("noimage.png") ||
                        file.endsWith(QLatin1String(".jpg")))
                << file.toStdString();

        const std::string page = std::string("/title/tt") + c.brokenId + "/";
        const int tries = servers->metadataProxy->Count(page);
        Search(QLatin1String(c.search));
        EXPECT_EQ(servers->metadataProxy->Count(page), tries + 1) << "the next view tries again";
        EXPECT_EQ(interaction.errors.size(), 2);
        form.reset();
    }
}

TEST_F(MainForm, TheFirstPageIsReloaded100msAfterTheSortListCloses) {
    Open();
    const struct {
        int choose; // -1: close the list without choosing
        qint64 type;
    } cases[] = {{-1, 0}, {2, 2}, {4, 4}};
    for (const auto& c : cases) {
        form->btnNextClick();
        const size_t before = servers->PageRequests().size();
        form->cbType->showPopup();
        if (c.choose >= 0)
            form->cbType->setCurrentIndex(c.choose);
        form->cbType->hidePopup();
        QElapsedTimer sinceClose;
        sinceClose.start();
        EXPECT_TRUE(form->tmRefresh->isActive());
        EXPECT_EQ(servers->PageRequests().size(), before) << "not at once";
        const QDeadlineTimer deadline(2000);
        while (servers->PageRequests().size() == before && !deadline.hasExpired())
            QTest::qWait(5);
        EXPECT_GE(sinceClose.elapsed(), 90) << "about 100 ms later";
        ASSERT_EQ(servers->PageRequests().size(), before + 1);
        EXPECT_EQ(LastPage().start, 0);
        EXPECT_EQ(LastPage().type, c.type);
        EXPECT_FALSE(form->tmRefresh->isActive()) << "once per close";
    }
}

TEST_F(MainForm, PagingWhileCoversLoadWaitsForThePageAndTheNewestRequestWins) {
    Open();
    servers->metadataProxy->SetDelay("/poster/tt0000004.png", 700);
    bool ranDuringTheFill = false;
    QTimer::singleShot(250, form.get(), [&] {
        ranDuringTheFill = form->Refreshing();
        const QList<TCoverPanel*> panels = form->CoverPanels;
        form->btnNextClick();
        form->btnNextClick();
        form->BuildGrid(); // as the interface options do
        // Nothing was freed or refilled under the running page.
        EXPECT_EQ(form->CoverPanels, panels);
    });
    const size_t before = servers->PageRequests().size();
    Search(QStringLiteral("Slow"));
    EXPECT_TRUE(ranDuringTheFill);
    const auto pages = servers->PageRequests();
    ASSERT_EQ(pages.size(), before + 2) << "the slow page, then the newest request once";
    EXPECT_EQ(pages[before].start, 0);
    EXPECT_EQ(pages.back().start, 36);
    EXPECT_EQ(form->statusLabel->text(), QStringLiteral("36 to 54 (of 1)"));
    EXPECT_TRUE(Shown().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(servers->ImagesDir() + QStringLiteral("0000004.jpg")));
    EXPECT_FALSE(form->Refreshing());
}

TEST_F(MainForm, ArrowKeysAndTabMoveTheFocusWithTheFocusedLookAndEnterClicks) {
    Open();
    ShowActive();
    const QList<TCoverPanel*>& panels = form->CoverPanels;
    ASSERT_EQ(form->GridColumns, 6);
    panels[0]->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(panels[0]->Fill(), TPanelFill::Focused());
    EXPECT_EQ(panels[0]->Fill(), form->selectedpanel->Fill());
    const struct {
        int key;
        int focused;
    } steps[] = {{Qt::Key_Right, 1}, {Qt::Key_Down, 7}, {Qt::Key_Left, 6}, {Qt::Key_Up, 0},
                 {Qt::Key_Up, 0},    {Qt::Key_Left, 0}, {Qt::Key_Tab, 1}};
    int was = 0;
    for (const auto& step : steps) {
        QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(step.key));
        EXPECT_EQ(QApplication::focusWidget(), panels[step.focused]) << step.key;
        EXPECT_EQ(panels[step.focused]->Fill(), TPanelFill::Focused());
        if (was != step.focused) {
            EXPECT_EQ(panels[was]->Fill(), TPanelFill::Normal());
        }
        was = step.focused;
    }
    int clicks = 0;
    panels[1]->SetOnClick([&](TCoverPanel*) { ++clicks; });
    QTest::keyClick(panels[1], Qt::Key_Return);
    QTest::mouseClick(panels[1], Qt::LeftButton);
    EXPECT_EQ(clicks, 2);
}

TEST_F(MainForm, ColumnsAndRowsBelowOneCountAsOneAndHugeOnesAreBounded) {
    const struct {
        int columns;
        int rows;
        int usedColumns;
        int usedRows;
    } cases[] = {
        {0, -3, 1, 1}, {1, 1, 1, 1}, {3, 0, 3, 1}, {100000, 2, TMainForm::MaxGridCount, 2}};
    for (const auto& c : cases) {
        TOptionsManager writer;
        RegisterOptionDefaults(writer);
        writer.LoadAll();
        writer.FindSection(InterfaceSection)->SetInteger(QStringLiteral("Columns"), c.columns);
        writer.FindSection(InterfaceSection)->SetInteger(QStringLiteral("Rows"), c.rows);
        writer.SaveAll();
        Open();
        SCOPED_TRACE(testing::Message() << c.columns << "x" << c.rows);
        EXPECT_EQ(form->Columns, c.usedColumns);
        EXPECT_EQ(form->Rows, c.usedRows);
        EXPECT_GT(form->CellWidth, 0);
        EXPECT_GT(form->CellHeight, 0);
        EXPECT_GE(form->GridColumns, c.usedColumns);
        EXPECT_GE(form->GridRows, c.usedRows);
        EXPECT_EQ(form->CoverPanels.size(), form->GridColumns * form->GridRows);
        EXPECT_EQ(LastPage().limit, form->CoverPanels.size());
        form.reset();
        delete tavilonapi;
    }
    OptionsManager().FindSection(InterfaceSection)->SetInteger(QStringLiteral("Columns"), 6);
    OptionsManager().FindSection(InterfaceSection)->SetInteger(QStringLiteral("Rows"), 3);
}

TEST_F(MainForm, LoadsAJpegOrPngBackgroundAndShowsTheWindowColourWithoutOne) {
    Open();
    const QString dir = testenv::MakeTempDir(QStringLiteral("backgrounds"));
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(QColor(200, 30, 30));
    ASSERT_TRUE(picture.save(dir + "/b.jpg", "JPEG"));
    ASSERT_TRUE(picture.save(dir + "/b.png", "PNG"));
    const struct {
        QString file;
        bool shown;
    } cases[] = {{dir + "/b.jpg", true},
                 {dir + "/b.png", true},
                 {dir + "/missing.png", false},
                 {QString(), false},
                 {dir, false}};
    for (const auto& c : cases) {
        OptionsManager()
            .FindSection(InterfaceSection)
            ->SetString(QStringLiteral("Background"), c.file);
        form->LoadBackground();
        EXPECT_EQ(!form->imgBackground->pixmap().isNull(), c.shown) << c.file.toStdString();
    }
    OptionsManager()
        .FindSection(InterfaceSection)
        ->SetString(QStringLiteral("Background"), QString());
    EXPECT_EQ(form->palette().color(QPalette::Window), QColor(119, 170, 255));
}

TEST_F(MainForm, BuildsTheGridFromTheScreenSize) {
    Open();
    ASSERT_EQ(form->screen()->size(), QSize(1280, 1024)) << "the tests' offscreen screen";
    // The window's own size does not count.
    form->resize(700, 500);
    form->BuildGrid();
    EXPECT_EQ(form->GridRect.Left, 15);
    EXPECT_EQ(form->GridRect.Top, 75);
    EXPECT_EQ(form->GridRect.Width(), 1250);
    EXPECT_EQ(form->GridRect.Height(), 949);
    EXPECT_EQ(form->CellWidth, 208);
    EXPECT_EQ(form->CellHeight, 316);
    ASSERT_EQ(form->CoverPanels.size(), 18);
    EXPECT_EQ(form->CoverPanels[0]->geometry(), QRect(15, 75, 203, 311));
    EXPECT_EQ(form->CoverPanels[7]->geometry(), QRect(15 + 208, 75 + 316, 203, 311));
    EXPECT_EQ(form->CoverPanels[17]->pos(), QPoint(15 + 5 * 208, 75 + 2 * 316));
    form->RefreshPage();
    EXPECT_EQ(form->CoverPanels[0]->PictureCaption(),
              QStringLiteral("<IMG src=\"noimage.png\" width=\"148\" height=\"256\">"));
}

TEST_F(MainForm, HasItsControlsWithTheirTextsAndHints) {
    Open();
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("tavilon"));
    EXPECT_EQ(form->font().family(), QStringLiteral("Arial"));
    EXPECT_TRUE(form->font().bold());
    EXPECT_EQ(form->font().pixelSize(), 21);
    const struct {
        QPushButton* button;
        const char* hint;
    } buttons[] = {{form->btnPrevious, "Go back"},
                   {form->btnNext, "Go forward"},
                   {form->btnSearch, "Search"},
                   {form->btnAddLinks, "Add links to reproduce"},
                   {form->btnOptions, "Configure the software"},
                   {form->btnClose, "Close"}};
    for (const auto& b : buttons) {
        EXPECT_EQ(b.button->toolTip(), QLatin1String(b.hint));
        EXPECT_FALSE(b.button->icon().isNull()) << b.hint;
        EXPECT_EQ(b.button->size(), QSize(61, 57));
    }
    QStringList orders;
    for (int i = 0; i < form->cbType->count(); ++i)
        orders.append(form->cbType->itemText(i));
    EXPECT_EQ(orders, (QStringList{"Added recently", "Most viewed", "Top rated",
                                   "Latest productions", "Alphabetically"}));
    EXPECT_EQ(form->cbType->currentIndex(), 0);
    EXPECT_EQ(form->cbType->toolTip(), QStringLiteral("Select here the sorting order for videos"));
    EXPECT_EQ(form->edSearch->toolTip(), QStringLiteral("Enter a text to search for videos"));
    EXPECT_EQ(form->edSearch->font().pixelSize(), 23);
    EXPECT_EQ(form->statusLabel->GradientTop, QColor(180, 203, 241));
    EXPECT_EQ(form->statusLabel->GradientBottom, QColor(233, 251, 254));
    EXPECT_TRUE(form->basepanel->isHidden());
    EXPECT_TRUE(form->selectedpanel->isHidden());
    EXPECT_EQ(form->tmLogin->interval(), 500);
    EXPECT_EQ(form->tmRefresh->interval(), 100);
    EXPECT_TRUE(form->tmLogin->isActive()) << "armed once the first page is in";
    for (TCoverPanel* panel : form->CoverPanels) {
        EXPECT_EQ(panel->size(), QSize(form->CellWidth - 5, form->CellHeight - 5));
        EXPECT_EQ(panel->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_EQ(panel->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    }
}

TEST(MainFormStartUpFailure, AnUnreachableCatalogueKeepsTheLoadingCaptionsAndArmsNoLogin) {
    if (!OptionsManager().FindSection(LoginSection))
        RegisterOptionDefaults();
    testenv::ClearSettingsStore();
    TOptionsManager writer;
    RegisterOptionDefaults(writer);
    // A port nothing listens on.
    writer.FindSection(ServerSection)
        ->SetString(QStringLiteral("DefaultServer"),
                    QStringLiteral("http://127.0.0.1:9/tavilonserver.php"));
    const QString work = testenv::MakeTempDir(QStringLiteral("work"));
    writer.FindSection(InterfaceSection)
        ->SetString(QStringLiteral("CompressedDirectory"), work + "/c/");
    writer.FindSection(InterfaceSection)
        ->SetString(QStringLiteral("UncompressedDirectory"), work + "/u");
    writer.SaveAll();
    TScriptedInteraction interaction;
    {
        TMainForm form;
        EXPECT_EQ(interaction.errors.size(), 1);
        EXPECT_FALSE(form.tmLogin->isActive());
        EXPECT_EQ(form.CoverPanels.size(), 18);
        for (TCoverPanel* panel : form.CoverPanels)
            EXPECT_EQ(panel->Caption(), QStringLiteral("loading..."));
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor is restored";
    }
    delete tavilonapi;
    testenv::ClearSettingsStore();
}

} // namespace
