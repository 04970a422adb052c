#pragma once

#include <QDialog>
#include <QSize>

class QPlainTextEdit;
class TLinkLabel;

// The report window: the links of a video, read only, and the address of the file host's
// abuse-report page, which a click opens in the user's web browser. Centred on the screen; the
// user closes it with the window's close box.
class TfrmReport : public QDialog {
    Q_OBJECT

public:
    explicit TfrmReport(QWidget* parent = nullptr);
    ~TfrmReport() override;

    static constexpr QSize ClientSize{562, 294};
    static constexpr int Margin = 10;
    static constexpr int BottomMargin = 40;
    // Monospaced families that exist here, in the order tried, where the layout names Courier New.
    static inline const QStringList MonospacedFamilies = {QStringLiteral("DejaVu Sans Mono"),
                                                          QStringLiteral("Liberation Mono"),
                                                          QStringLiteral("Courier New")};
    static constexpr int LinksPointSize = 10;

    QPlainTextEdit* meLinks;
    TLinkLabel* lbWeb;

    // Opens the text of lbWeb in the user's web browser; what comes of it is not looked at.
    void lbWebClick();

protected:
    void showEvent(QShowEvent* event) override;
};
