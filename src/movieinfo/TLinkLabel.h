#pragma once

#include <QLabel>
#include <functional>

// A label that reads as a link: blue, underlined (whatever font it is given), a hand cursor; a
// click with the left button (pressed and released over it) raises OnClick.
class TLinkLabel : public QLabel {
    Q_OBJECT

public:
    explicit TLinkLabel(QWidget* parent = nullptr);

    static inline const QColor LinkColor = QColor(0, 0, 255);

    void SetOnClick(std::function<void(TLinkLabel*)> handler) { onClick_ = std::move(handler); }

protected:
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::function<void(TLinkLabel*)> onClick_;
    bool pressed_ = false;
};
