#include "webbrowser/TWebBrowser.h"

#include "core/Errors.h"

#include <QCoreApplication>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineView>
#include <unistd.h>

TWebBrowser::TWebBrowser(QWidget* parent) : QWidget(parent), view_(new QWebEngineView(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
}

TWebBrowser::~TWebBrowser() = default;

void TWebBrowser::Navigate(const QString& address) {
    view_->setUrl(QUrl(address));
}

void TWebBrowser::GoBack() {
    if (!view_->history()->canGoBack())
        throw Exception(NoPageBackText);
    view_->back();
}

void TWebBrowser::GoForward() {
    if (!view_->history()->canGoForward())
        throw Exception(NoPageForwardText);
    view_->forward();
}

QString TWebBrowser::LocationURL() const {
    return view_->url().toString(QUrl::FullyEncoded);
}

void PrepareWebBrowser() {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}
