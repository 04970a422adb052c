#pragma once

#include <QLabel>
#include <QWidget>

// The small borderless window that shows one line while the program does long work on the
// GUI thread.
class TfrmStatus : public QWidget {
    Q_OBJECT

public:
    explicit TfrmStatus(const QString& text);

    QLabel* lbStatus;

    static constexpr int Margin = 20;
    static constexpr int FontPixelHeight = 16;
    static inline const QColor BackColor = QColor(231, 65, 69);
};

// Shows the status window with `text`; while one is shown, does nothing.
void ShowStatus(const QString& text);
// Frees the shown status window; without one, does nothing.
void HideStatus();
// The shown status window, or nullptr.
TfrmStatus* ShownStatusWindow();
