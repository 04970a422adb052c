#pragma once

#include <QObject>
#include <curl/curl.h>
#include <deque>
#include <unordered_map>

class QSocketNotifier;
class QTimer;

// One party of the curl multi handle: an object that owns easy handles and wants to hear,
// outside every curl call, that its transfers have something to deliver or have ended.
class ICurlTransfer {
public:
    // Delivers what the curl callbacks of this party recorded, and handles ended transfers.
    // Called after curl_multi_socket_action has returned, never from inside a curl call, so
    // anything (starting, removing, destroying transfers, nested event loops) may happen here.
    virtual void CurlDeliver() = 0;
    // The easy handle has ended with `result`. Only records it (the multi handle's message
    // queue is being read); CurlDeliver follows.
    virtual void CurlTransferEnded(CURL* easy, CURLcode result) = 0;

protected:
    ~ICurlTransfer() = default;
};

// The process's single curl multi handle, driven by the Qt event loop of the thread that first
// used it (the GUI thread): CURLMOPT_SOCKETFUNCTION feeds QSocketNotifiers,
// CURLMOPT_TIMERFUNCTION a single-shot QTimer. The curl callbacks only record; every event of
// the owners runs from CurlDeliver, after curl_multi_socket_action has returned.
class TCurlMulti : public QObject {
    Q_OBJECT

public:
    static TCurlMulti& Instance();

    // Adds `easy` to the multi handle; its transfer ends are reported to `owner`. Must not be
    // called from inside a curl callback (nothing of ours ever is).
    void Add(CURL* easy, ICurlTransfer* owner);
    // Removes `easy` from the multi handle; nothing is reported for it afterwards.
    void Remove(CURL* easy);
    // Asks for CurlDeliver of `owner` once the current curl call has returned. Safe inside
    // curl callbacks.
    void MarkPending(ICurlTransfer* owner);
    // Forgets `owner` (called by its destructor): no further CurlDeliver reaches it.
    void Forget(ICurlTransfer* owner);

private:
    TCurlMulti();
    ~TCurlMulti() override;

    struct SocketWatch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    static int SocketCallback(CURL* easy, curl_socket_t socket, int what, void* userp,
                              void* socketp);
    static int TimerCallback(CURLM* multi, long timeoutMs, void* userp);

    void WatchSocket(curl_socket_t socket, int what);
    void UnwatchSocket(curl_socket_t socket);
    void SocketAction(curl_socket_t socket, int eventMask);
    void ReadEnded();
    void DeliverPending();

    CURLM* multi_ = nullptr;
    QTimer* timer_ = nullptr;
    std::unordered_map<curl_socket_t, SocketWatch> sockets_;
    std::unordered_map<CURL*, ICurlTransfer*> owners_;
    // Parties with something to deliver, in the order they asked; a forgotten one is nullptr.
    std::deque<ICurlTransfer*> pending_;
};
