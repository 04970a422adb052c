#include "api/Ttavilonapi.h"
#include "browse/TMainForm.h"
#include "core/Errors.h"
#include "core/Utils.h"
#include "gui/PasteLinks.h"
#include "gui/TfrmStatus.h"
#include "platform/OptionDefaults.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

TEST(StatusWindow, ShowsOneWindowWithTheFirstText) {
    HideStatus();
    ShowStatus(QStringLiteral("first"));
    ShowStatus(QStringLiteral("second"));
    TfrmStatus* window = ShownStatusWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->lbStatus->text(), QStringLiteral("first"));
    EXPECT_TRUE(window->isVisible());
    HideStatus();
    EXPECT_EQ(ShownStatusWindow(), nullptr);
    HideStatus();
    EXPECT_EQ(ShownStatusWindow(), nullptr);
}

TEST(StatusWindow, HasItsLook) {
    ShowStatus(QStringLiteral("Logging in as somebody"));
    TfrmStatus* window = ShownStatusWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(231, 65, 69));
    EXPECT_EQ(window->lbStatus->palette().color(QPalette::WindowText), QColor(Qt::white));
    const QFont font = window->lbStatus->font();
    EXPECT_EQ(font.family(), QStringLiteral("Arial"));
    EXPECT_TRUE(font.bold());
    EXPECT_EQ(font.pixelSize(), 16);
    EXPECT_TRUE(window->lbStatus->alignment() & Qt::AlignVCenter);
    // sized to the label with margins of 20, centred on the screen
    EXPECT_EQ(window->width(), window->lbStatus->sizeHint().width() + 40);
    EXPECT_EQ(window->height(), window->lbStatus->sizeHint().height() + 40);
    const QPoint screenCentre = QGuiApplication::primaryScreen()->geometry().center();
    EXPECT_LE((window->geometry().center() - screenCentre).manhattanLength(), 2);
    HideStatus();
}

TEST(PasteLinks, AppendsTheClipboardLinksAfterTheExistingLines) {
    QGuiApplication::clipboard()->setText(
        QStringLiteral("Part 1: http://host/?d=AAAA\r\nnothing\nHTTP://x/ then http://host/?d=BBBB \n"));
    QStringList lines{QStringLiteral("kept")};
    PasteLinks(lines);
    EXPECT_EQ(lines, (QStringList{QStringLiteral("kept"), QStringLiteral("http://host/?d=AAAA"),
                                  QStringLiteral("http://host/?d=BBBB")}));
    QGuiApplication::clipboard()->clear();
    PasteLinks(lines);
    EXPECT_EQ(lines.size(), 3);
}

TEST(ErrorReporting, ShowsAHandlerErrorAndNothingForTheSilentAbort) {
    TScriptedInteraction interaction;
    QTimer::singleShot(0, [] { throw Exception(QStringLiteral("broken handler")); });
    QTimer::singleShot(0, [] { Abort(); });
    QTimer::singleShot(0, [] { throw std::runtime_error("plain failure"); });
    QTimer::singleShot(20, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    EXPECT_EQ(interaction.errors,
              (QStringList{QStringLiteral("broken handler"), QStringLiteral("plain failure")}));
}

class MainFormStartUp : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!OptionsManager().FindSection(LoginSection))
            RegisterOptionDefaults();
    }
};

// Shows the real status window, as the program's answers do, and keeps everything else silent
// (the catalogue is not running here, so the first page fails).
class TStatusWindowInteraction final : public IUserInteraction {
public:
    TStatusWindowInteraction() { SetUserInteraction(this); }
    ~TStatusWindowInteraction() override { SetUserInteraction(nullptr); }
    void ShowMessage(const QString&) override {}
    void ShowError(const QString&) override {}
    bool AskYesNo(const QString&) override { return false; }
    bool AskText(const QString&, const QString&, QString&) override { return false; }
    void ShowStatus(const QString& text) override { ::ShowStatus(text); }
    void HideStatus() override { ::HideStatus(); }
};

TEST_F(MainFormStartUp, ShowsTheStatusWindowWhileLoadingAndCreatesTheConfiguredFolders) {
    testenv::ClearSettingsStore();
    const QString root = testenv::MakeTempDir(QStringLiteral("configured"));
    TOptionsManager writer;
    RegisterOptionDefaults(writer);
    writer.FindSection(InterfaceSection)->SetString(QStringLiteral("CompressedDirectory"), root + "/c/");
    writer.FindSection(InterfaceSection)->SetString(QStringLiteral("UncompressedDirectory"), root + "/u");
    writer.SaveAll();

    // The window shows the status window through the questions-and-notices interface.
    TStatusWindowInteraction interaction;
    QString statusDuringStartUp;
    QTimer::singleShot(0, [&] {
        if (TfrmStatus* window = ShownStatusWindow())
            statusDuringStartUp = window->lbStatus->text();
    });
    TMainForm form;
    EXPECT_EQ(statusDuringStartUp, QStringLiteral("Loading new covers..."));
    EXPECT_EQ(ShownStatusWindow(), nullptr);
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    ASSERT_NE(tavilonapi, nullptr);
    EXPECT_EQ(tavilonapi->Folders.CompressedDir, root + "/c/");
    EXPECT_TRUE(QFileInfo(root + "/c").isDir());
    EXPECT_TRUE(QFileInfo(root + "/u").isDir());
    delete tavilonapi;
    testenv::ClearSettingsStore();
}

TEST_F(MainFormStartUp, ReportsABadValueAndStillClosesTheStatusWindow) {
    testenv::ClearSettingsStore();
    TOptionsManager writer;
    RegisterOptionDefaults(writer);
    writer.FindSection(InterfaceSection)->SetString(QStringLiteral("UncompressedDirectory"), QString());
    writer.SaveAll();

    TScriptedInteraction interaction;
    {
        TMainForm form;
        EXPECT_EQ(ShownStatusWindow(), nullptr);
    }
    EXPECT_EQ(interaction.errors, QStringList{QStringLiteral("Unable to create directory")});
    delete tavilonapi;
    testenv::ClearSettingsStore();
    OptionsManager().FindSection(InterfaceSection)->SetString(
        QStringLiteral("UncompressedDirectory"), GetMyDocumentsPath() + "/tavilon/uncompressed");
}

} // namespace
