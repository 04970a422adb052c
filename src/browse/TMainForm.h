#pragma once

#include <QWidget>

// The main window: frameless and maximised. Its creation runs the client's start-up steps.
class TMainForm : public QWidget {
    Q_OBJECT

public:
    explicit TMainForm(QWidget* parent = nullptr);

    static inline const QString LoadingText = QStringLiteral("Loading new covers...");

private:
    // Status window, settings, data module and its directories; the status window is closed
    // again also when a step fails.
    void FormCreate();
};
