#include "net/CurlMulti.h"

#include "core/ErrorReporting.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>

TCurlMulti& TCurlMulti::Instance() {
    // Lives until the process ends: easy handles of components destroyed late (at static
    // destruction) may still be removed from it.
    static TCurlMulti* instance = new TCurlMulti();
    return *instance;
}

TCurlMulti::TCurlMulti() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi_ = curl_multi_init();
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &TCurlMulti::SocketCallback);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &TCurlMulti::TimerCallback);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, [this] { SocketAction(CURL_SOCKET_TIMEOUT, 0); });
}

TCurlMulti::~TCurlMulti() {
    curl_multi_cleanup(multi_);
}

void TCurlMulti::Add(CURL* easy, ICurlTransfer* owner) {
    owners_[easy] = owner;
    curl_multi_add_handle(multi_, easy);
}

void TCurlMulti::Remove(CURL* easy) {
    if (owners_.erase(easy) != 0)
        curl_multi_remove_handle(multi_, easy);
}

void TCurlMulti::MarkPending(ICurlTransfer* owner) {
    pending_.push_back(owner);
}

void TCurlMulti::Forget(ICurlTransfer* owner) {
    std::replace(pending_.begin(), pending_.end(), owner, static_cast<ICurlTransfer*>(nullptr));
    for (auto it = owners_.begin(); it != owners_.end();) {
        if (it->second == owner) {
            curl_multi_remove_handle(multi_, it->first);
            it = owners_.erase(it);
        } else {
            ++it;
        }
    }
}

// Inside curl: only the notifiers change. A removed socket's notifiers are disabled at once
// and deleted later, since one of them may be the sender of the activation being served.
int TCurlMulti::SocketCallback(CURL*, curl_socket_t socket, int what, void* userp, void*) {
    auto* self = static_cast<TCurlMulti*>(userp);
    if (what == CURL_POLL_REMOVE)
        self->UnwatchSocket(socket);
    else
        self->WatchSocket(socket, what);
    return 0;
}

// Inside curl: only the timer is armed; the action runs when it fires.
int TCurlMulti::TimerCallback(CURLM*, long timeoutMs, void* userp) {
    auto* self = static_cast<TCurlMulti*>(userp);
    if (timeoutMs < 0)
        self->timer_->stop();
    else
        self->timer_->start(static_cast<int>(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

void TCurlMulti::WatchSocket(curl_socket_t socket, int what) {
    SocketWatch& watch = sockets_[socket];
    auto makeNotifier = [this, socket](QSocketNotifier::Type type, int mask) {
        auto* notifier = new QSocketNotifier(socket, type, this);
        connect(notifier, &QSocketNotifier::activated, this,
                [this, socket, mask] { SocketAction(socket, mask); });
        return notifier;
    };
    const bool wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
    const bool wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
    if (wantRead && !watch.read)
        watch.read = makeNotifier(QSocketNotifier::Read, CURL_CSELECT_IN);
    if (wantWrite && !watch.write)
        watch.write = makeNotifier(QSocketNotifier::Write, CURL_CSELECT_OUT);
    if (watch.read)
        watch.read->setEnabled(wantRead);
    if (watch.write)
        watch.write->setEnabled(wantWrite);
}

void TCurlMulti::UnwatchSocket(curl_socket_t socket) {
    const auto it = sockets_.find(socket);
    if (it == sockets_.end())
        return;
    for (QSocketNotifier* notifier : {it->second.read, it->second.write}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->disconnect(this);
            notifier->deleteLater();
        }
    }
    sockets_.erase(it);
}

void TCurlMulti::SocketAction(curl_socket_t socket, int eventMask) {
    int running = 0;
    curl_multi_socket_action(multi_, socket, eventMask, &running);
    ReadEnded();
    DeliverPending();
}

void TCurlMulti::ReadEnded() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        const auto it = owners_.find(message->easy_handle);
        if (it != owners_.end())
            it->second->CurlTransferEnded(message->easy_handle, message->data.result);
    }
}

// Each party is taken off the queue before it runs, so a nested event loop inside one of its
// handlers serves the rest of the queue and nothing is delivered twice.
void TCurlMulti::DeliverPending() {
    while (!pending_.empty()) {
        ICurlTransfer* owner = pending_.front();
        pending_.pop_front();
        if (owner)
            RunReportingErrors([owner] { owner->CurlDeliver(); });
    }
}
