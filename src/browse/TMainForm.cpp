#include "browse/TMainForm.h"

#include "api/Ttavilonapi.h"
#include "browse/CoverCaption.h"
#include "browse/TCloseUpComboBox.h"
#include "browse/TGradientLabel.h"
#include "catalogue/GetCatalogueService.h"
#include "catalogue/TCatalogueEntry.h"
#include "core/ErrorReporting.h"
#include "core/Errors.h"
#include "core/UserInteraction.h"
#include "covers/CoverPictures.h"
#include "gui/PictureButton.h"
#include "movieinfo/TfrmMovieInfo.h"
#include "platform/OptionDefaults.h"
#include "platform/OptionsManager.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <climits>
#include <memory>

namespace {

constexpr QSize ButtonSize(61, 57);
constexpr QSize ButtonIconSize(40, 40);
constexpr QSize TemplatePanelSize(160, 210);
constexpr int ButtonTop = 8;

const QStringList SortOrders = {QStringLiteral("Added recently"), QStringLiteral("Most viewed"),
                                QStringLiteral("Top rated"), QStringLiteral("Latest productions"),
                                QStringLiteral("Alphabetically")};

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& picture,
                        const QString& hint) {
    return MakePictureButton(parent, QLatin1String(name),
                             QStringLiteral(":/browse/buttons/") + picture, hint, ButtonSize,
                             ButtonIconSize);
}

QString PictureMarkup(const QString& name, int width, int height) {
    return QStringLiteral("<IMG src=\"%1\" width=\"%2\" height=\"%3\">")
        .arg(name)
        .arg(width)
        .arg(height);
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("tavilon"));
    CreateControls();
    // The whole screen, also where no window manager maximises it.
    if (const QScreen* display = QGuiApplication::primaryScreen())
        setGeometry(display->geometry());
    // As with every creation handler, a failure is reported and the window still comes up.
    RunReportingErrors([this] { FormCreate(); });
}

TMainForm::~TMainForm() {
    FormDestroy();
}

void TMainForm::CreateControls() {
    QFont windowFont(FontFamily);
    windowFont.setBold(true);
    windowFont.setPixelSize(FontPixelSize);
    setFont(windowFont);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, WindowColor);
    setPalette(colours);
    setAutoFillBackground(true);
    resize(DesignWidth, 771);

    imgBackground = new QLabel(this);
    imgBackground->setObjectName(QStringLiteral("imgBackground"));
    imgBackground->setGeometry(rect());
    imgBackground->lower();

    btnPrevious =
        MakeButton(this, "btnPrevious", QStringLiteral("previous.svg"), QStringLiteral("Go back"));
    btnPrevious->move(15, ButtonTop);
    btnNext = MakeButton(this, "btnNext", QStringLiteral("next.svg"), QStringLiteral("Go forward"));
    btnNext->move(82, ButtonTop);

    cbType = new TCloseUpComboBox(this);
    cbType->setObjectName(QStringLiteral("cbType"));
    cbType->addItems(SortOrders);
    cbType->setCurrentIndex(0);
    cbType->setGeometry(149, 24, 201, 30);
    cbType->setToolTip(QStringLiteral("Select here the sorting order for videos"));
    QFont listFont = windowFont;
    listFont.setPixelSize(15);
    cbType->setFont(listFont);

    statusLabel = new TGradientLabel(this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setGeometry(356, ButtonTop, 205, 57);
    statusLabel->setAlignment(Qt::AlignCenter);
    statusLabel->GradientTop = StatusTextTop;
    statusLabel->GradientBottom = StatusTextBottom;

    edSearch = new QLineEdit(this);
    edSearch->setObjectName(QStringLiteral("edSearch"));
    edSearch->setGeometry(567, 19, 181, 35);
    edSearch->setToolTip(QStringLiteral("Enter a text to search for videos"));
    QFont searchFont = windowFont;
    searchFont.setPixelSize(SearchFontPixelSize);
    edSearch->setFont(searchFont);
    edSearch->installEventFilter(this);

    btnSearch =
        MakeButton(this, "btnSearch", QStringLiteral("search.svg"), QStringLiteral("Search"));
    btnAddLinks = MakeButton(this, "btnAddLinks", QStringLiteral("addlinks.svg"),
                             QStringLiteral("Add links to reproduce"));
    btnOptions = MakeButton(this, "btnOptions", QStringLiteral("options.svg"),
                            QStringLiteral("Configure the software"));
    btnClose = MakeButton(this, "btnClose", QStringLiteral("close.svg"), QStringLiteral("Close"));

    basepanel = new TCoverPanel(this, &images);
    basepanel->setObjectName(QStringLiteral("basepanel"));
    basepanel->resize(TemplatePanelSize);
    basepanel->SetFill(TPanelFill::Normal());
    basepanel->hide();
    selectedpanel = new TCoverPanel(this, &images);
    selectedpanel->setObjectName(QStringLiteral("selectedpanel"));
    selectedpanel->resize(TemplatePanelSize);
    selectedpanel->SetFill(TPanelFill::Focused());
    selectedpanel->hide();

    tmLogin = new QTimer(this);
    tmLogin->setObjectName(QStringLiteral("tmLogin"));
    tmLogin->setInterval(LoginDelayMs);
    tmRefresh = new QTimer(this);
    tmRefresh->setObjectName(QStringLiteral("tmRefresh"));
    tmRefresh->setInterval(RefreshDelayMs);

    connect(btnPrevious, &QPushButton::clicked, this, [this] { btnPreviousClick(); });
    connect(btnNext, &QPushButton::clicked, this, [this] { btnNextClick(); });
    connect(btnSearch, &QPushButton::clicked, this, [this] { btnSearchClick(); });
    connect(btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });
    connect(btnOptions, &QPushButton::clicked, this, [this] { btnOptionsClick(); });
    connect(btnAddLinks, &QPushButton::clicked, this, [this] { btnAddLinksClick(); });
    cbType->SetOnCloseUp([this](TCloseUpComboBox*) { cbTypeCloseUp(); });
    connect(tmRefresh, &QTimer::timeout, this, [this] { tmRefreshTimer(); });
    connect(tmLogin, &QTimer::timeout, this, [this] { tmLoginTimer(); });

    // Paging from anywhere in the window.
    auto* pageUp = new QShortcut(QKeySequence(Qt::Key_PageUp), this);
    connect(pageUp, &QShortcut::activated, this, [this] { btnPreviousClick(); });
    auto* pageDown = new QShortcut(QKeySequence(Qt::Key_PageDown), this);
    connect(pageDown, &QShortcut::activated, this, [this] { btnNextClick(); });

    LayoutControls();
}

void TMainForm::FormCreate() {
    UserInteraction().ShowStatus(LoadingText);
    const auto hideStatus = qScopeGuard([] { UserInteraction().HideStatus(); });
    QCoreApplication::processEvents();

    // A value of the wrong type is reported; the values not read keep their defaults and
    // start-up goes on, so the program stays usable and the options dialog can mend it.
    RunReportingErrors([] { OptionsManager().LoadAll(); });

    auto* dataModule = new Ttavilonapi(QCoreApplication::instance());
    dataModule->CreateWorkingDirectories();

    PanelImdbIds.clear();
    OptionPages.clear();
    CoverPanels.clear();
    Columns = 6;
    Rows = 3;
    ImageMargin = 20;
    // The placeholder cover, as installed beside the program; the built-in copy when missing.
    QImage placeholder = TPictureContainer::LoadPicture(tavilonapi->Folders.ImagesDir +
                                                        TPictureContainer::NoImageName);
    if (placeholder.isNull())
        placeholder = TPictureContainer::LoadPicture(QStringLiteral(":/browse/images/noimage.png"));
    images.Add(TPictureContainer::NoImageName, placeholder);

    LoadBackground();
    BuildGrid();
    RegisterOptionPages();
    RefreshPage();
    tmLogin->start();
}

void TMainForm::FormDestroy() {
    PanelImdbIds.clear();
    OptionPages.clear();
    CoverPanels.clear();
}

void TMainForm::RegisterOptionPages() {
    // The options dialog's pages ("Login|Megaupload", "Interface", "Server") register here.
}

void TMainForm::LoadBackground() {
    const QString file = GetOptionString(InterfaceSection, QStringLiteral("Background"));
    background_ = QImage();
    if (!file.isEmpty() && QFileInfo(file).isFile())
        background_ = TPictureContainer::LoadPicture(file);
    ShowBackground();
}

void TMainForm::ShowBackground() {
    imgBackground->setGeometry(rect());
    if (background_.isNull()) {
        imgBackground->clear();
        return;
    }
    imgBackground->setPixmap(QPixmap::fromImage(
        background_.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutControls();
    ShowBackground();
}

void TMainForm::LayoutControls() {
    // Anchored right: the same distance from the right edge as in the drawn layout.
    const int shift = width() - DesignWidth;
    btnSearch->move(754 + shift, ButtonTop);
    btnAddLinks->move(821 + shift, ButtonTop);
    btnOptions->move(888 + shift, ButtonTop);
    btnClose->move(955 + shift, ButtonTop);
    edSearch->resize(std::max(40, 181 + shift), edSearch->height());
}

void TMainForm::BuildGrid() {
    if (refreshing_) {
        // The panels are being filled: rebuild once that page is done, then load it anew.
        rebuildPending_ = true;
        return;
    }
    MakeGrid();
}

void TMainForm::MakeGrid() {
    Columns = static_cast<int>(std::clamp<qint64>(
        GetOptionInteger(InterfaceSection, QStringLiteral("Columns")), MinGridCount, MaxGridCount));
    Rows = static_cast<int>(std::clamp<qint64>(
        GetOptionInteger(InterfaceSection, QStringLiteral("Rows")), MinGridCount, MaxGridCount));
    for (qsizetype i = CoverPanels.size() - 1; i >= 0; --i)
        delete CoverPanels[i];
    CoverPanels.clear();
    PanelImdbIds.clear();

    const QScreen* display = screen() ? screen() : QGuiApplication::primaryScreen();
    const QSize screenSize = display ? display->size() : size();
    GridRect.Left = GridSideMargin;
    GridRect.Top = btnPrevious->geometry().bottom() + 1 + GridTopGap;
    GridRect.Right = screenSize.width() - GridSideMargin;
    GridRect.Bottom = screenSize.height();

    const int gridWidth = std::max(1, GridRect.Width());
    const int gridHeight = std::max(1, GridRect.Height());
    CellSpacing = 0;
    CellWidth = std::max(1, gridWidth / Columns - 2 * CellSpacing);
    CellHeight = std::max(1, gridHeight / Rows - 2 * CellSpacing);
    GridColumns = gridWidth / (CellWidth + CellSpacing);
    GridRows = gridHeight / (CellHeight + CellSpacing);
    // The covers were decoded at the old cells' size; the placeholder stays.
    const QImage placeholder = images.Find(TPictureContainer::NoImageName)
                                   ? *images.Find(TPictureContainer::NoImageName)
                                   : QImage();
    images.Clear();
    images.Add(TPictureContainer::NoImageName, placeholder);
    for (int i = 0; i < GridColumns * GridRows; ++i)
        AddCoverPanel();
}

void TMainForm::AddCoverPanel() {
    const qsizetype n = CoverPanels.size();
    TCoverPanel* panel = CreateCoverPanel();
    panel->move(static_cast<int>(n % GridColumns) * (CellWidth + CellSpacing) + GridRect.Left,
                static_cast<int>(n / GridColumns) * (CellHeight + CellSpacing) + GridRect.Top);
    CoverPanels.append(panel);
}

TCoverPanel* TMainForm::CreateCoverPanel() {
    auto* panel = new TCoverPanel(this, &images);
    panel->SetOnClick([this](TCoverPanel* sender) { basepanelClick(sender); });
    panel->SetOnEnter([this](TCoverPanel* sender) { basepanelEnter(sender); });
    panel->SetOnExit([this](TCoverPanel* sender) { basepanelExit(sender); });
    panel->SetOnArrowKey([this](TCoverPanel* sender, int key) { MoveFocus(sender, key); });
    panel->resize(std::max(1, CellWidth - PanelGap), std::max(1, CellHeight - PanelGap));
    panel->SetCaption(DefaultPanelCaption);
    panel->SetFill(basepanel->Fill());
    panel->show();
    return panel;
}

void TMainForm::RefreshPage() {
    if (refreshing_) {
        refreshPending_ = true;
        return;
    }
    refreshing_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto done = qScopeGuard([this] {
        refreshing_ = false;
        QApplication::restoreOverrideCursor();
    });
    do {
        refreshPending_ = false;
        if (rebuildPending_) {
            rebuildPending_ = false;
            MakeGrid();
        }
        try {
            FillPage();
        } catch (const EAbort&) {
            throw;
        } catch (...) {
            // A newer request came in while this one ran: report this failure and serve it.
            if (!refreshPending_ && !rebuildPending_)
                throw;
            ReportException(std::current_exception());
        }
    } while (refreshPending_ || rebuildPending_);
}

void TMainForm::FillPage() {
    for (qsizetype i = CoverPanels.size() - 1; i >= 0; --i) {
        CoverPanels[i]->SetPictureCaption(QString());
        CoverPanels[i]->SetCaption(PanelLoadingText);
    }
    const qint64 count = CoverPanels.size();
    const QStringList answer = GetCatalogueService()->getvideos(PageOffset, count, edSearch->text(),
                                                                cbType->currentIndex());
    statusLabel->setText(QStringLiteral("%1 to %2 (of %3)")
                             .arg(PageOffset)
                             .arg(PageOffset + count)
                             .arg(CatalogueTotal(answer)));
    PanelImdbIds.clear();

    const int pictureWidth = PictureSize().width();
    const int pictureHeight = PictureSize().height();
    const QFontMetrics metrics(font());
    // Extra entries beyond the panels are not shown.
    const qsizetype entries = std::min<qsizetype>(std::max<qsizetype>(answer.size() - 1, 0), count);
    std::exception_ptr coverError;
    for (qsizetype k = 1; k <= entries; ++k) {
        TCoverPanel* panel = CoverPanels[k - 1];
        const TCatalogueEntry entry = TCatalogueEntry::Split(answer[k]);
        PanelImdbIds.append(entry.ImdbId);
        panel->Tag = entry.VideoId();
        panel->setToolTip(entry.DisplayDescription());

        QString picture = TPictureContainer::NoImageName;
        // An id that is not made of digits names no file and goes into no address.
        if (IsImdbId(entry.ImdbId)) {
            try {
                LoadCover(entry.ImdbId);
                picture = entry.ImdbId;
            } catch (const EAbort&) {
                throw;
            } catch (...) {
                // This panel shows the placeholder for now and the next view tries again; the
                // rest of the page fills, and the first failure is reported once at the end.
                if (!coverError)
                    coverError = std::current_exception();
            }
        }
        panel->SetPictureCaption(PictureMarkup(picture, pictureWidth, pictureHeight));
        // A title far longer than any cell is shortened all the same; the bound keeps the
        // decoding and measuring of a hostile answer cheap.
        panel->SetCaption(
            ShortenTitle(DecodeTitle(entry.Title.left(MaxTitleLength)), metrics, CellWidth));
        panel->setVisible(true);
    }
    for (qsizetype i = entries; i < CoverPanels.size(); ++i)
        CoverPanels[i]->setVisible(false);
    if (coverError)
        ReportException(coverError);
}

void TMainForm::LoadCover(const QString& imdbId) {
    if (imdbId.isEmpty())
        return;
    const QString coverFile = CoverFileName(tavilonapi->Folders.ImagesDir, imdbId);
    if (!QFileInfo::exists(coverFile)) {
        if (DownloadCover(imdbId, tavilonapi->Folders.ImagesDir).isEmpty()) {
            // A title page without poster: the placeholder stays this id's cover. A failed copy
            // is not reported; the panel then shows an empty picture.
            const QString partial = coverFile + QStringLiteral(".part");
            QFile::remove(partial);
            if (QFile::copy(tavilonapi->Folders.ImagesDir + TPictureContainer::NoImageName,
                            partial)) {
                QFile::remove(coverFile);
                QFile::rename(partial, coverFile);
            }
        }
        images.Add(imdbId, TPictureContainer::LoadPicture(coverFile, PictureSize()));
        return;
    }
    // A cover file, once there, is used for good: one decoded picture per id is enough.
    if (!images.Find(imdbId))
        images.Add(imdbId, TPictureContainer::LoadPicture(coverFile, PictureSize()));
}

QSize TMainForm::PictureSize() const {
    return QSize(CellWidth - 3 * ImageMargin, CellHeight - 3 * ImageMargin);
}

void TMainForm::btnPreviousClick() {
    if (PageOffset <= 0)
        return;
    PageOffset = std::max<qint32>(0, PageOffset - static_cast<qint32>(CoverPanels.size()));
    RefreshPage();
}

void TMainForm::btnNextClick() {
    const auto count = static_cast<qint32>(CoverPanels.size());
    // No upper limit, short of the offset's own range.
    if (PageOffset > INT_MAX - 2 * count)
        return;
    PageOffset += count;
    RefreshPage();
}

void TMainForm::btnSearchClick() {
    PageOffset = 0;
    RefreshPage();
}

void TMainForm::cbTypeCloseUp() {
    tmRefresh->start();
}

void TMainForm::tmRefreshTimer() {
    tmRefresh->stop();
    PageOffset = 0;
    RefreshPage();
}

void TMainForm::btnCloseClick() {
    close();
}

void TMainForm::btnOptionsClick() {
    // The options dialog opens here.
}

void TMainForm::btnAddLinksClick() {
    // The play-from-links window opens here.
}

void TMainForm::tmLoginTimer() {
    tmLogin->stop();
    // The file-host login at start follows here.
}

void TMainForm::basepanelClick(TCoverPanel* panel) {
    panel->setFocus(Qt::MouseFocusReason);
    // Opening the entry (login check, movie information) follows here.
}

void TMainForm::ShowMovieInfo(const QString& imdbId, qint64 videoId, const QString& description) {
    const auto frmMovieInfo = std::make_unique<TfrmMovieInfo>(this);
    frmMovieInfo->edTitle->hide();
    frmMovieInfo->lbFile->setText(description);
    frmMovieInfo->edTitle->setText(description);
    frmMovieInfo->OpenTitlePage(imdbId);
    frmMovieInfo->Tag = videoId;
    if (frmMovieInfo->exec() == QDialog::Accepted && onPlayVideo_)
        onPlayVideo_(videoId, frmMovieInfo->edTitle->text());
}

void TMainForm::ConfirmImdbTitle(QString& title, QString& imdbId) {
    const auto frmMovieInfo = std::make_unique<TfrmMovieInfo>(this);
    imdbId.clear();
    frmMovieInfo->edTitle->setText(title);
    frmMovieInfo->edTitle->show();
    const QString found = SearchImdbId(title);
    frmMovieInfo->Panel2->hide();
    frmMovieInfo->OpenTitlePage(found);
    if (frmMovieInfo->exec() != QDialog::Accepted)
        return;
    title = frmMovieInfo->edTitle->text();
    imdbId = frmMovieInfo->ShownImdbId();
}

void TMainForm::basepanelEnter(TCoverPanel* panel) {
    panel->SetFill(selectedpanel->Fill());
}

void TMainForm::basepanelExit(TCoverPanel* panel) {
    panel->SetFill(basepanel->Fill());
}

void TMainForm::MoveFocus(TCoverPanel* from, int key) {
    const qsizetype at = CoverPanels.indexOf(from);
    if (at < 0 || GridColumns <= 0)
        return;
    qsizetype step = 0;
    switch (key) {
    case Qt::Key_Left:
        step = -1;
        break;
    case Qt::Key_Right:
        step = 1;
        break;
    case Qt::Key_Up:
        step = -GridColumns;
        break;
    case Qt::Key_Down:
        step = GridColumns;
        break;
    default:
        return;
    }
    const qsizetype to = at + step;
    if (to < 0 || to >= CoverPanels.size() || CoverPanels[to]->isHidden())
        return;
    CoverPanels[to]->setFocus(Qt::OtherFocusReason);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edSearch && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            btnSearchClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
