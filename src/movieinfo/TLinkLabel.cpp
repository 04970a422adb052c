#include "movieinfo/TLinkLabel.h"

#include <QMouseEvent>

TLinkLabel::TLinkLabel(QWidget* parent) : QLabel(parent) {
    // Only the underline is set here; family and size still come from the parent.
    QFont underlined;
    underlined.setUnderline(true);
    setFont(underlined);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, LinkColor);
    setPalette(colours);
    setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    // A font set later keeps the underline.
    if (event->type() == QEvent::FontChange && !font().underline()) {
        QFont underlined = font();
        underlined.setUnderline(true);
        setFont(underlined);
    }
}

void TLinkLabel::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click && onClick_)
        onClick_(this);
}
