#pragma once

#include <QComboBox>
#include <functional>

// A drop-down list that reports when its list closes, whether or not the choice changed.
class TCloseUpComboBox : public QComboBox {
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(TCloseUpComboBox* sender)>;

    explicit TCloseUpComboBox(QWidget* parent = nullptr);

    // The size of the open list.
    int ListHeight = 200;
    int ListWidth = 183;

    void SetOnCloseUp(TNotifyEvent handler) { onCloseUp_ = std::move(handler); }

    void showPopup() override;
    void hidePopup() override;

private:
    TNotifyEvent onCloseUp_;
};
