#include "browse/TGradientLabel.h"

#include <QLinearGradient>
#include <QPainter>

TGradientLabel::TGradientLabel(QWidget* parent) : QLabel(parent) {}

void TGradientLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QFontMetrics metrics(font());
    const QRect textRect = contentsRect();
    // The gradient spans the text's own height, so both colours show on it.
    const int textTop = textRect.top() + (textRect.height() - metrics.height()) / 2;
    QLinearGradient gradient(0, textTop, 0, textTop + metrics.height());
    gradient.setColorAt(0, GradientTop);
    gradient.setColorAt(1, GradientBottom);
    p.setPen(QPen(QBrush(gradient), 1));
    p.setFont(font());
    p.drawText(textRect, static_cast<int>(alignment()), text());
}
