#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <functional>

class TPictureContainer;

// How a cover panel is filled: a rounded shape with a shadow, a vertical gradient, a mirrored
// lower half laid over it at an opacity, and an optional border.
struct TPanelFill {
    QColor GradientTop;
    QColor GradientBottom;
    QColor MirrorTop;
    QColor MirrorBottom;
    // 0 to 100 per cent.
    int MirrorOpacity = 46;
    QColor BorderColor;
    // No border when 0.
    int BorderWidth = 0;

    bool operator==(const TPanelFill&) const = default;

    // The normal look and the look of the focused panel.
    static TPanelFill Normal();
    static TPanelFill Focused();
};

// One cover of the grid: a picture named by its picture caption, a text caption at the bottom
// centre, a hint, and a tag. It takes the focus with Tab or a click; Enter or Space on it acts as
// a click, the arrow keys hand the focus on (OnArrowKey).
class TCoverPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr int CornerRadius = 20;
    static constexpr int ShadowOffset = 10;
    static constexpr int ShadowAlpha = 70;
    static constexpr int PictureTop = 12;
    static constexpr int CaptionFontPixelSize = 14;

    using TNotifyEvent = std::function<void(TCoverPanel* sender)>;
    using TArrowEvent = std::function<void(TCoverPanel* sender, int key)>;

    TCoverPanel(QWidget* parent, const TPictureContainer* images);

    // The text caption, drawn at the bottom centre.
    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    // The markup <IMG src="NAME" width="W" height="H"> naming a picture of the container.
    QString PictureCaption() const { return pictureCaption_; }
    void SetPictureCaption(const QString& markup);
    // The picture's name, width and height as read from the markup (empty name: none).
    QString PictureName() const { return pictureName_; }
    QSize PictureSize() const { return pictureSize_; }

    const TPanelFill& Fill() const { return fill_; }
    void SetFill(const TPanelFill& fill);

    qint64 Tag = 0;

    void SetOnClick(TNotifyEvent handler) { onClick_ = std::move(handler); }
    void SetOnEnter(TNotifyEvent handler) { onEnter_ = std::move(handler); }
    void SetOnExit(TNotifyEvent handler) { onExit_ = std::move(handler); }
    void SetOnArrowKey(TArrowEvent handler) { onArrowKey_ = std::move(handler); }

    // Raises OnClick as a click does.
    void Click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    const TPictureContainer* images_;
    QString caption_;
    QString pictureCaption_;
    QString pictureName_;
    QSize pictureSize_;
    TPanelFill fill_;
    bool pressed_ = false;
    TNotifyEvent onClick_;
    TNotifyEvent onEnter_;
    TNotifyEvent onExit_;
    TArrowEvent onArrowKey_;
};
