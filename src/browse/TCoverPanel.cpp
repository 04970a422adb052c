#include "browse/TCoverPanel.h"

#include "browse/TPictureContainer.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>

TPanelFill TPanelFill::Normal() {
    return {QColor(238, 241, 246),
            QColor(213, 220, 231),
            QColor(213, 220, 231),
            QColor(238, 244, 244),
            46,
            QColor(),
            0};
}

TPanelFill TPanelFill::Focused() {
    return {QColor(255, 255, 0),
            QColor(255, 255, 153),
            QColor(255, 255, 153),
            QColor(238, 244, 244),
            46,
            QColor(255, 0, 0),
            5};
}

TCoverPanel::TCoverPanel(QWidget* parent, const TPictureContainer* images)
    : QWidget(parent), images_(images), fill_(TPanelFill::Normal()) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_TranslucentBackground);
    QFont captionFont = font();
    captionFont.setFamily(QStringLiteral("Arial"));
    captionFont.setBold(true);
    captionFont.setPixelSize(CaptionFontPixelSize);
    setFont(captionFont);
}

void TCoverPanel::SetCaption(const QString& caption) {
    if (caption == caption_)
        return;
    caption_ = caption;
    update();
}

void TCoverPanel::SetPictureCaption(const QString& markup) {
    pictureCaption_ = markup;
    static const QRegularExpression image(
        QStringLiteral(R"re(<IMG\s+src="([^"]*)"\s+width="(\d{1,5})"\s+height="(\d{1,5})"\s*>)re"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = image.match(markup);
    if (match.hasMatch()) {
        pictureName_ = match.captured(1);
        pictureSize_ = QSize(match.captured(2).toInt(), match.captured(3).toInt());
    } else {
        pictureName_.clear();
        pictureSize_ = QSize();
    }
    update();
}

void TCoverPanel::SetFill(const TPanelFill& fill) {
    if (fill == fill_)
        return;
    fill_ = fill;
    update();
}

void TCoverPanel::Click() {
    if (onClick_)
        onClick_(this);
}

void TCoverPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF body(0, 0, width() - ShadowOffset, height() - ShadowOffset);
    if (body.width() <= 0 || body.height() <= 0)
        return;

    QPainterPath shadow;
    shadow.addRoundedRect(body.translated(ShadowOffset, ShadowOffset), CornerRadius, CornerRadius);
    p.fillPath(shadow, QColor(0, 0, 0, ShadowAlpha));

    QPainterPath shape;
    shape.addRoundedRect(body, CornerRadius, CornerRadius);
    QLinearGradient gradient(body.topLeft(), body.bottomLeft());
    gradient.setColorAt(0, fill_.GradientTop);
    gradient.setColorAt(1, fill_.GradientBottom);
    p.fillPath(shape, gradient);

    // The mirrored lower half, laid over the gradient.
    const QRectF lower(body.left(), body.center().y(), body.width(), body.height() / 2);
    QLinearGradient mirror(lower.topLeft(), lower.bottomLeft());
    mirror.setColorAt(0, fill_.MirrorTop);
    mirror.setColorAt(1, fill_.MirrorBottom);
    p.save();
    p.setClipPath(shape);
    p.setOpacity(fill_.MirrorOpacity / 100.0);
    p.fillRect(lower, mirror);
    p.restore();

    if (fill_.BorderWidth > 0) {
        const qreal inset = fill_.BorderWidth / 2.0;
        p.setPen(QPen(fill_.BorderColor, fill_.BorderWidth));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(body.adjusted(inset, inset, -inset, -inset), CornerRadius - inset,
                          CornerRadius - inset);
    }

    if (images_ && !pictureName_.isEmpty()) {
        const QImage* picture = images_->Find(pictureName_);
        if (picture && !picture->isNull() && !pictureSize_.isEmpty()) {
            const QRectF target((body.width() - pictureSize_.width()) / 2.0, PictureTop,
                                pictureSize_.width(), pictureSize_.height());
            p.drawImage(target, *picture);
        }
    }

    const int captionTop = PictureTop + std::max(0, pictureSize_.height());
    const QRectF captionArea(0, captionTop, body.width(), body.height() - captionTop);
    p.setPen(Qt::black);
    p.setFont(font());
    p.drawText(captionArea, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine, caption_);
}

void TCoverPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void TCoverPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && pressed_) {
        pressed_ = false;
        event->accept();
        if (rect().contains(event->position().toPoint()))
            Click();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void TCoverPanel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        event->accept();
        Click();
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        event->accept();
        if (onArrowKey_)
            onArrowKey_(this, event->key());
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TCoverPanel::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    if (onEnter_)
        onEnter_(this);
}

void TCoverPanel::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    if (onExit_)
        onExit_(this);
}
