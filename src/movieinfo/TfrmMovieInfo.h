#pragma once

#include <QColor>
#include <QDialog>
#include <QSize>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class TLinkLabel;
class TWebBrowser;

// The movie information window: borderless and covering the whole screen, a video's IMDb title
// page in an embedded browser, Play, back, forward and close buttons, and a notice that opens
// the report window. Shown modally for one use: Play ends it with Accepted, closing with
// Rejected.
//
// Browse mode (the main window's ShowMovieInfo): edTitle hidden, lbFile and edTitle hold the
// entry's description, Tag the catalogue video id. Confirmation mode (ConfirmImdbTitle):
// edTitle visible and editable over the label, Panel2 hidden, Tag 0.
class TfrmMovieInfo : public QDialog {
    Q_OBJECT

public:
    explicit TfrmMovieInfo(QWidget* parent = nullptr);
    ~TfrmMovieInfo() override;

    static inline const QColor Panel1Color = QColor(119, 170, 255);
    static inline const QString FontFamily = QStringLiteral("Arial");
    static constexpr int TitleFontPixelSize = 16;
    static constexpr int PlayFontPixelSize = 21;
    static constexpr int Panel1Height = 72;
    static constexpr int Panel2Height = 50;
    static constexpr QSize PlayButtonSize{137, 57};
    static constexpr QSize ButtonSize{61, 57};
    static constexpr QSize ButtonIconSize{40, 40};
    static constexpr int ReportMargin = 10;

    // The catalogue video id of the shown video; 0 when confirming a registration.
    qint64 Tag = 0;

    QWidget* Panel1;
    QPushButton* btnPlay;
    QLabel* lbFile;
    QLineEdit* edTitle;
    QPushButton* btnPrevious;
    QPushButton* btnNext;
    QPushButton* btnClose;
    TWebBrowser* browser;
    QWidget* Panel2;
    TLinkLabel* lbReport;

    // The IMDb title prefix this window opens pages with and strips from the shown address: the
    // metadata site's address, normalised once when the window is made, and "/title/tt".
    const QString& TitlePrefix() const { return titlePrefix_; }
    // Opens the IMDb title page of `imdbId` (the prefix, the id, "/"); does not wait for it.
    void OpenTitlePage(const QString& imdbId);
    // The IMDb id of the page the browser shows now (ImdbIdFromAddress of its LocationURL).
    QString ShownImdbId() const;

    // Handlers.
    void FormShow();
    void btnPlayClick();
    void btnCloseClick();
    void btnPreviousClick();
    void btnNextClick();
    // Opens the report window on the record lines of the video in Tag, without its password
    // lines. A click while the lines are being fetched is ignored; the report is shown only if
    // this window is still open when they come.
    void lbReportClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();

    QString site_;
    QString titlePrefix_;
    bool reporting_ = false;
};
