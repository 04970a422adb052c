#pragma once

#include "browse/TCoverPanel.h"
#include "browse/TPictureContainer.h"

#include <QList>
#include <QPair>
#include <QStringList>
#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class TCloseUpComboBox;
class TGradientLabel;

// The area of the screen the cover grid fills; right and bottom are the edges themselves.
struct TGridRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

// The main window: frameless and maximised, one page of the catalogue as a grid of cover
// panels, with paging, a search, a sort order and closing the program. Its creation runs the
// client's start-up steps.
class TMainForm : public QWidget {
    Q_OBJECT

public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    static inline const QString LoadingText = QStringLiteral("Loading new covers...");
    static inline const QString PanelLoadingText = QStringLiteral("loading...");
    static inline const QString DefaultPanelCaption = QStringLiteral("Movie");

    // The window's look.
    static inline const QColor WindowColor = QColor(119, 170, 255);
    static inline const QColor ButtonFaceColor = QColor(141, 178, 227);
    static inline const QColor StatusTextTop = QColor(180, 203, 241);
    static inline const QColor StatusTextBottom = QColor(233, 251, 254);
    static inline const QString FontFamily = QStringLiteral("Arial");
    static constexpr int FontPixelSize = 21;
    static constexpr int SearchFontPixelSize = 23;
    // The width the layout was drawn for; controls anchored right keep their distance from the
    // right edge.
    static constexpr int DesignWidth = 1024;

    static constexpr int LoginDelayMs = 500;
    static constexpr int RefreshDelayMs = 100;
    // Settings beyond these are read as these: the grid stays computable and of a sane size.
    static constexpr int MinGridCount = 1;
    static constexpr int MaxGridCount = 50;
    // Room below the buttons before the grid starts.
    static constexpr int GridTopGap = 10;
    static constexpr int GridSideMargin = 15;
    // The gap from a panel to the next cell.
    static constexpr int PanelGap = 5;
    // Characters of a catalogue title looked at for its caption.
    static constexpr int MaxTitleLength = 1024;

    // The page and the grid.
    qint32 PageOffset = 0;
    QList<TCoverPanel*> CoverPanels;
    QStringList PanelImdbIds;
    // Option pages of the options dialog: (path, page factory), registered at start-up.
    QList<QPair<QString, std::function<QWidget*(QWidget*)>>> OptionPages;
    int Columns = 6;
    int Rows = 3;
    TGridRect GridRect;
    int CellWidth = 0;
    int CellHeight = 0;
    int CellSpacing = 0;
    int GridColumns = 0;
    int GridRows = 0;
    int ImageMargin = 20;

    // Controls.
    QLabel* imgBackground;
    QPushButton* btnPrevious;
    QPushButton* btnNext;
    TCloseUpComboBox* cbType;
    TGradientLabel* statusLabel;
    QLineEdit* edSearch;
    QPushButton* btnSearch;
    QPushButton* btnAddLinks;
    QPushButton* btnOptions;
    QPushButton* btnClose;
    TCoverPanel* basepanel;
    TCoverPanel* selectedpanel;
    TPictureContainer images;
    QTimer* tmLogin;
    QTimer* tmRefresh;

    // Computes the grid from the settings "Columns" and "Rows" and the screen's size and makes
    // its panels. While a page is being filled the rebuild waits until that page is done.
    void BuildGrid();
    // Asks the catalogue for the page at PageOffset and fills the panels. Started again while
    // it runs (from a handler that runs during a cover download), it returns at once and the
    // running one loads the page once more with the newest offset, search and order.
    void RefreshPage();
    // The setting "Background" of the section "Interface", when such a file exists (JPEG or
    // PNG); otherwise no picture, so the window colour shows.
    void LoadBackground();
    TCoverPanel* CreateCoverPanel();
    void AddCoverPanel();
    // Makes the cover of `imdbId` available in `images` under that id, fetching it when its
    // cover file does not exist yet. `imdbId` is a valid id (IsImdbId).
    void LoadCover(const QString& imdbId);

    // The movie information window for a clicked entry: its IMDb title page, the description
    // as its title, the video id in its tag. Play starts the video of that entry (OnPlayVideo
    // with the video id and the description), whatever page the user went to meanwhile.
    void ShowMovieInfo(const QString& imdbId, qint64 videoId, const QString& description);
    // The confirmation of a registration: looks `title` up on the metadata site and shows the
    // title page found in the movie information window, the title editable. On Play, `title`
    // becomes the edited title and `imdbId` the id taken from the address of the page shown
    // then (TfrmMovieInfo::ShownImdbId); on closing, `title` stays and `imdbId` is empty. A
    // failed search raises its error before the window is shown.
    void ConfirmImdbTitle(QString& title, QString& imdbId);
    // Starting the playback of a catalogue video (video id, description), raised by Play in the
    // movie information window; set by the program.
    void SetOnPlayVideo(std::function<void(qint64, const QString&)> handler) {
        onPlayVideo_ = std::move(handler);
    }

    // The size covers are shown at: the cell less 3 x ImageMargin each way.
    QSize PictureSize() const;

    // True while RefreshPage fills a page.
    bool Refreshing() const { return refreshing_; }

    // Handlers.
    void btnPreviousClick();
    void btnNextClick();
    void btnSearchClick();
    void cbTypeCloseUp();
    void tmRefreshTimer();
    void btnCloseClick();
    void btnOptionsClick();
    void btnAddLinksClick();
    void tmLoginTimer();
    void basepanelClick(TCoverPanel* panel);
    void basepanelEnter(TCoverPanel* panel);
    void basepanelExit(TCoverPanel* panel);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void FormCreate();
    void FormDestroy();
    void RegisterOptionPages();
    void MakeGrid();
    void FillPage();
    void LayoutControls();
    void ShowBackground();
    void MoveFocus(TCoverPanel* from, int key);

    QImage background_;
    std::function<void(qint64, const QString&)> onPlayVideo_;
    bool refreshing_ = false;
    bool refreshPending_ = false;
    bool rebuildPending_ = false;
};
