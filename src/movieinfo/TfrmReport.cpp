#include "movieinfo/TfrmReport.h"

#include "movieinfo/MovieAddresses.h"
#include "movieinfo/TLinkLabel.h"
#include "platform/DesktopServices.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>

TfrmReport::TfrmReport(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmReport"));
    setWindowTitle(QStringLiteral("Report abuse"));
    setFixedSize(ClientSize);

    meLinks = new QPlainTextEdit(this);
    meLinks->setObjectName(QStringLiteral("meLinks"));
    meLinks->setReadOnly(true);
    meLinks->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont monospaced;
    monospaced.setFamilies(MonospacedFamilies);
    monospaced.setStyleHint(QFont::Monospace);
    monospaced.setPointSize(LinksPointSize);
    meLinks->setFont(monospaced);
    meLinks->setGeometry(Margin, Margin, ClientSize.width() - 2 * Margin,
                         ClientSize.height() - Margin - BottomMargin);

    lbWeb = new TLinkLabel(this);
    lbWeb->setObjectName(QStringLiteral("lbWeb"));
    lbWeb->setTextFormat(Qt::PlainText);
    lbWeb->setText(AbuseReportAddress());
    const int strip = ClientSize.height() - BottomMargin;
    lbWeb->setGeometry(Margin, strip + Margin, ClientSize.width() - 2 * Margin,
                       BottomMargin - 2 * Margin);
    lbWeb->SetOnClick([this](TLinkLabel*) { lbWebClick(); });
}

TfrmReport::~TfrmReport() = default;

void TfrmReport::lbWebClick() {
    ShellOpen(lbWeb->text());
}

void TfrmReport::showEvent(QShowEvent* event) {
    // Centred on the screen, not on the window that opened it.
    if (const QScreen* display = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(display->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}
