#pragma once

#include "BrowseFixture.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <functional>
#include <memory>

class QWebEngineView;
class TfrmMovieInfo;

namespace moviepages {

// The metadata site and catalogue of the movie pages' tests:
//   site: tt9100001 "Iron Meadow", tt9100002 "Glass River", tt9100003 "Copper Hill", each with
//         a year, a plot and a poster;
//   catalogue: "Glass River" (9100002), password "secret", two links.
constexpr int GlassRiverLinks = 2;
std::unique_ptr<TBrowseServers> StartServers();
QStringList GlassRiverLinkLines();

// Longest wait for a page, a window or a request.
constexpr int WaitMs = 20000;

// The result of `script` run in the page `view` shows, waited for; an invalid value when the
// page did not answer in time.
QVariant Evaluate(QWebEngineView* view, const QString& script);

// Waits until the page shown has loaded and its address satisfies `wanted`; false on time-out.
bool WaitForPage(QWebEngineView* view, const std::function<bool(const QString&)>& wanted);
// The same for an address that ends with `suffix`.
bool WaitForPageEndingWith(QWebEngineView* view, const QString& suffix);

// Clicks with the mouse, as a user does, the first link of the page whose address (resolved)
// matches `pattern` (a JavaScript regular expression) and waits for the page it leads to.
// Returns that address, or empty text when the page has no such link or the page did not load.
QString ClickLink(QWebEngineView* view, const QString& pattern);

// Runs `script` on the first modal window of type T once it is shown (polling, so that it never
// waits inside a loop the window's own code runs below), then makes sure the window is closed.
// Gives up after WaitMs; `ran` says whether the script ran.
template <typename T> class TWhenModal {
public:
    explicit TWhenModal(std::function<void(T*)> script) : script_(std::move(script)) {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
        deadline_.setRemainingTime(WaitMs);
    }
    bool ran = false;

private:
    void Poll() {
        T* window = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!window) {
            if (deadline_.hasExpired())
                timer_.stop();
            return;
        }
        timer_.stop();
        ran = true;
        QPointer<T> guard(window);
        script_(window);
        if (guard && guard->isVisible())
            guard->reject();
    }

    std::function<void(T*)> script_;
    QTimer timer_;
    QDeadlineTimer deadline_;
};

} // namespace moviepages
