#include "server/common/RunHttpServer.h"

#include "server/common/ListenBacklog.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

namespace {

// How often a stop request that came before the server ran looks again.
constexpr int StopPollMs = 10;

} // namespace

int RunHttpServer(httplib::Server& server, const TListenAddress& address, const char* program,
                  const TServeHooks& hooks) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client that goes away while we write must not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    const TListenBacklog backlog(server);
    const std::string host = address.Host.toStdString();
    int port = address.Port;
    if (port == 0)
        port = server.bind_to_any_port(host);
    else if (!server.bind_to_port(host, port))
        port = -1;
    if (port <= 0) {
        std::fprintf(stderr, "%s: cannot listen on %s\n", program,
                     address.ToString().toLocal8Bit().constData());
        return 1;
    }
    backlog.Raise();
    const TListenAddress bound{address.Host, port};
    if (hooks.Bound)
        hooks.Bound(bound);
    std::printf("%s: listening on http://%s\n", program,
                bound.ToString().toLocal8Bit().constData());
    std::fflush(stdout);

    std::atomic<bool> listenEnded = false;
    std::thread signalWaiter([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        if (listenEnded)
            return;
        if (hooks.Stopping)
            hooks.Stopping();
        // stop() does nothing before the server runs: a signal that arrives that early waits
        // until it does, so it is not lost.
        while (!server.is_running() && !listenEnded)
            std::this_thread::sleep_for(std::chrono::milliseconds(StopPollMs));
        server.stop();
    });
    const bool served = server.listen_after_bind();
    // listen_after_bind also returns when the socket fails; make sure the waiter ends.
    listenEnded = true;
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    if (!served) {
        std::fprintf(stderr, "%s: serving on %s failed\n", program,
                     bound.ToString().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
