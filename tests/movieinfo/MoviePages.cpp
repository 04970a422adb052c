#include "MoviePages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <memory>
#include <optional>

namespace moviepages {

std::unique_ptr<TBrowseServers> StartServers() {
    const std::vector<TBrowseServers::TSiteTitle> site = {
        {QStringLiteral("9100001"), QStringLiteral("Iron Meadow"), true, QStringLiteral("1961"),
         QStringLiteral("A farmer keeps a meadow of iron flowers.")},
        {QStringLiteral("9100002"), QStringLiteral("Glass River"), true, QStringLiteral("1974"),
         QStringLiteral("Two sisters follow a river that turns to glass each winter.")},
        {QStringLiteral("9100003"), QStringLiteral("Copper Hill"), true, QStringLiteral("1988"),
         QStringLiteral("A mining town bets everything on one last seam.")},
    };
    const std::vector<TBrowseServers::TCatalogueVideo> videos = {
        {QStringLiteral("Glass River"), QStringLiteral("9100002"), GlassRiverLinkLines(),
         QStringLiteral("secret")},
    };
    return std::make_unique<TBrowseServers>(site, videos);
}

QStringList GlassRiverLinkLines() {
    return {QStringLiteral("http://127.0.0.1:9/?d=GLASS1"),
            QStringLiteral("http://127.0.0.1:9/?d=GLASS2")};
}

QVariant Evaluate(QWebEngineView* view, const QString& script) {
    auto result = std::make_shared<std::optional<QVariant>>();
    view->page()->runJavaScript(script, [result](const QVariant& value) { *result = value; });
    if (!QTest::qWaitFor([&] { return result->has_value(); }, WaitMs))
        return {};
    return **result;
}

bool WaitForPage(QWebEngineView* view, const std::function<bool(const QString&)>& wanted) {
    return QTest::qWaitFor(
        [&] {
            // The document answering is the one loaded: its own address and state.
            const QStringList state =
                Evaluate(view, QStringLiteral("[location.href, document.readyState]"))
                    .toStringList();
            return state.size() == 2 && state[1] == QLatin1String("complete") && wanted(state[0]) &&
                   wanted(view->url().toString(QUrl::FullyEncoded));
        },
        WaitMs);
}

bool WaitForPageEndingWith(QWebEngineView* view, const QString& suffix) {
    return WaitForPage(view, [&](const QString& address) { return address.endsWith(suffix); });
}

QString ClickLink(QWebEngineView* view, const QString& pattern) {
    const QString find =
        QStringLiteral("(function() {"
                       "  const wanted = new RegExp(%1[0]);"
                       "  const link = Array.from(document.querySelectorAll('a[href]'))"
                       "                   .find(a => wanted.test(a.href));"
                       "  if (!link) return null;"
                       "  link.scrollIntoView({block: 'center'});"
                       "  const box = link.getBoundingClientRect();"
                       "  return [link.href, box.left + box.width / 2, box.top + box.height / 2];"
                       "})()")
            .arg(QString::fromUtf8(
                QJsonDocument(QJsonArray{pattern}).toJson(QJsonDocument::Compact)));
    const QVariantList found = Evaluate(view, find).toList();
    if (found.size() != 3)
        return {};
    const QString target = found[0].toString();
    QWidget* surface = view->focusProxy();
    if (!surface)
        return {};
    const QPoint point(qRound(found[1].toDouble()), qRound(found[2].toDouble()));
    QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, point);
    return WaitForPage(view, [&](const QString& address) { return address == target; }) ? target
                                                                                        : QString();
}

} // namespace moviepages
