#include "movieinfo/TfrmMovieInfo.h"

#include "api/Ttavilonapi.h"
#include "core/Endpoints.h"
#include "core/Errors.h"
#include "gui/PictureButton.h"
#include "movieinfo/MovieAddresses.h"
#include "movieinfo/TLinkLabel.h"
#include "movieinfo/TfrmReport.h"
#include "webbrowser/TWebBrowser.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QVBoxLayout>

namespace {

const QString PasswordKey = QStringLiteral("password:");

constexpr int BandMargin = 8;
constexpr int BandSpacing = 6;
constexpr int TitleSideGap = 10;
// The title box as high as the main window's search box; the notice a little larger than the
// default text, so that it is read.
constexpr int TitleBoxHeight = 35;
constexpr int NoticeFontPixelSize = 14;

QString ReportNotice() {
    return QStringLiteral(
               "Before you click the Play button, make sure you have the proper rights to "
               "reproduce this content. If you think this video should be removed, please "
               "contact %1. Click here to open the report form.")
        .arg(FileHostDomain());
}

QString ButtonPicture(const char* name) {
    return QStringLiteral(":/movieinfo/buttons/") + QLatin1String(name);
}

} // namespace

TfrmMovieInfo::TfrmMovieInfo(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), site_(ImdbSiteAddress()),
      titlePrefix_(ImdbTitlePrefix(site_)) {
    setObjectName(QStringLiteral("frmMovieInfo"));
    setWindowTitle(QStringLiteral("Movie information"));
    CreateControls();
}

TfrmMovieInfo::~TfrmMovieInfo() = default;

void TfrmMovieInfo::CreateControls() {
    QFont titleFont(FontFamily);
    titleFont.setBold(true);
    titleFont.setPixelSize(TitleFontPixelSize);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(Panel1Height);
    QPalette band = Panel1->palette();
    band.setColor(QPalette::Window, Panel1Color);
    Panel1->setPalette(band);
    Panel1->setAutoFillBackground(true);

    btnPlay = MakePictureButton(Panel1, QStringLiteral("btnPlay"), ButtonPicture("play.svg"),
                                QString(), PlayButtonSize, ButtonIconSize);
    btnPlay->setText(QStringLiteral("Play"));
    QFont playFont(FontFamily);
    playFont.setBold(true);
    playFont.setPixelSize(PlayFontPixelSize);
    btnPlay->setFont(playFont);

    // The title label and the title box share one place; the box lies over the label.
    auto* title = new QWidget(Panel1);
    auto* titleLayout = new QGridLayout(title);
    titleLayout->setContentsMargins(TitleSideGap, 0, TitleSideGap, 0);
    lbFile = new QLabel(title);
    lbFile->setObjectName(QStringLiteral("lbFile"));
    lbFile->setFont(titleFont);
    lbFile->setTextFormat(Qt::PlainText);
    lbFile->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    edTitle = new QLineEdit(title);
    edTitle->setObjectName(QStringLiteral("edTitle"));
    edTitle->setFont(titleFont);
    edTitle->setMinimumHeight(TitleBoxHeight);
    titleLayout->addWidget(lbFile, 0, 0);
    titleLayout->addWidget(edTitle, 0, 0, Qt::AlignVCenter);

    btnPrevious =
        MakePictureButton(Panel1, QStringLiteral("btnPrevious"), ButtonPicture("previous.svg"),
                          QStringLiteral("Go back"), ButtonSize, ButtonIconSize);
    btnNext = MakePictureButton(Panel1, QStringLiteral("btnNext"), ButtonPicture("next.svg"),
                                QStringLiteral("Go forward"), ButtonSize, ButtonIconSize);
    btnClose = MakePictureButton(Panel1, QStringLiteral("btnClose"), ButtonPicture("close.svg"),
                                 QStringLiteral("Close"), ButtonSize, ButtonIconSize);
    // Enter plays; the other buttons act only when clicked or pressed with the space bar.
    btnPlay->setDefault(true);
    for (QPushButton* button : {btnPrevious, btnNext, btnClose})
        button->setAutoDefault(false);

    auto* bandLayout = new QHBoxLayout(Panel1);
    bandLayout->setContentsMargins(BandMargin, 0, BandMargin, 0);
    bandLayout->setSpacing(BandSpacing);
    bandLayout->addWidget(btnPlay);
    bandLayout->addWidget(title, 1);
    bandLayout->addWidget(btnPrevious);
    bandLayout->addWidget(btnNext);
    bandLayout->addWidget(btnClose);

    browser = new TWebBrowser(this);
    browser->setObjectName(QStringLiteral("browser"));

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(Panel2Height);
    lbReport = new TLinkLabel(Panel2);
    lbReport->setObjectName(QStringLiteral("lbReport"));
    QFont noticeFont;
    noticeFont.setPixelSize(NoticeFontPixelSize);
    lbReport->setFont(noticeFont);
    lbReport->setWordWrap(true);
    lbReport->setTextFormat(Qt::PlainText);
    lbReport->setText(ReportNotice());
    auto* reportLayout = new QHBoxLayout(Panel2);
    reportLayout->setContentsMargins(ReportMargin, 0, ReportMargin, 0);
    reportLayout->addWidget(lbReport);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel1);
    layout->addWidget(browser, 1);
    layout->addWidget(Panel2);

    connect(btnPlay, &QPushButton::clicked, this, [this] { btnPlayClick(); });
    connect(btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });
    connect(btnPrevious, &QPushButton::clicked, this, [this] { btnPreviousClick(); });
    connect(btnNext, &QPushButton::clicked, this, [this] { btnNextClick(); });
    lbReport->SetOnClick([this](TLinkLabel*) { lbReportClick(); });
}

void TfrmMovieInfo::OpenTitlePage(const QString& imdbId) {
    browser->Navigate(ImdbTitlePage(site_, imdbId));
}

QString TfrmMovieInfo::ShownImdbId() const {
    return ImdbIdFromAddress(browser->LocationURL(), titlePrefix_);
}

void TfrmMovieInfo::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TfrmMovieInfo::FormShow() {
    // Each time it is shown, the whole screen, whatever size the layout has.
    const QScreen* display = screen() ? screen() : QGuiApplication::primaryScreen();
    if (display)
        setGeometry(display->geometry());
}

void TfrmMovieInfo::btnPlayClick() {
    accept();
}

void TfrmMovieInfo::btnCloseClick() {
    reject();
}

void TfrmMovieInfo::btnPreviousClick() {
    browser->GoBack();
}

void TfrmMovieInfo::btnNextClick() {
    browser->GoForward();
}

void TfrmMovieInfo::lbReportClick() {
    if (reporting_)
        return;
    reporting_ = true;
    // The request serves events while it waits: this window may be closed meanwhile.
    const QPointer<TfrmMovieInfo> self(this);
    QStringList lines;
    try {
        tavilonapi->GetVideoLinks(Tag, lines);
    } catch (...) {
        if (self)
            reporting_ = false;
        throw;
    }
    if (!self)
        return;
    reporting_ = false;
    if (!isVisible())
        return;
    // The archive password is never shown: from the last line to the first, every line holding
    // "password:" anywhere goes.
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        if (lines[i].contains(PasswordKey))
            lines.removeAt(i);
    }
    // Freed here, unless this window (its parent) went first and took it along.
    const QPointer<TfrmReport> report = new TfrmReport(this);
    const auto freeReport = qScopeGuard([&report] { delete report.data(); });
    report->meLinks->setPlainText(lines.join(QLatin1Char('\n')));
    report->exec();
}
