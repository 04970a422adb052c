#pragma once

#include <QString>
#include <QWidget>

class QWebEngineView;

// The embedded web browser: a QWebEngineView behind the few operations the windows use, shaped
// like the platform's browser control. Navigate starts a load and returns at once; GoBack and
// GoForward raise an error when there is no page in that direction.
class TWebBrowser : public QWidget {
    Q_OBJECT

public:
    explicit TWebBrowser(QWidget* parent = nullptr);
    ~TWebBrowser() override;

    // Opens `address`; does not wait for the page to load.
    void Navigate(const QString& address);
    // One page back or forward in the history; raises an error when there is none.
    void GoBack();
    void GoForward();
    // The address of the page shown, fully encoded; empty before the first Navigate.
    QString LocationURL() const;

    // The view itself, for tests that click into the page (the clicks go to its focusProxy()).
    QWebEngineView* View() const { return view_; }

    static inline const QString NoPageBackText = QStringLiteral("There is no page to go back to.");
    static inline const QString NoPageForwardText =
        QStringLiteral("There is no page to go forward to.");

private:
    QWebEngineView* view_;
};

// What QtWebEngine needs before the application object exists: contexts shared between its
// views, and, when the program runs as root, its sandbox switched off (Chromium refuses to
// start a sandboxed renderer as root). Call first in main.
void PrepareWebBrowser();
