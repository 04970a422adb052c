#include "gui/TfrmStatus.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace {

TfrmStatus* shownStatus = nullptr;

} // namespace

TfrmStatus::TfrmStatus(const QString& text)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      lbStatus(new QLabel(text, this)) {
    setObjectName(QStringLiteral("frmStatus"));
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, BackColor);
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);

    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(FontPixelHeight);
    lbStatus->setObjectName(QStringLiteral("lbStatus"));
    lbStatus->setFont(font);
    lbStatus->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Margin, Margin, Margin, Margin);
    layout->addWidget(lbStatus);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = geometry();
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
}

void ShowStatus(const QString& text) {
    if (shownStatus)
        return;
    shownStatus = new TfrmStatus(text);
    shownStatus->show();
}

void HideStatus() {
    TfrmStatus* window = shownStatus;
    shownStatus = nullptr;
    delete window;
}

TfrmStatus* ShownStatusWindow() { return shownStatus; }
