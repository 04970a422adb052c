#pragma once

#include "server/common/ListenAddress.h"

#include <functional>
#include <httplib.h>

// What a server adds to serving, beside its routes.
struct TServeHooks {
    // Runs once the server is bound, before the listening line, with the address as bound (the
    // port the system chose for port 0).
    std::function<void(const TListenAddress& bound)> Bound;
    // Runs on the signal thread when SIGTERM or SIGINT has arrived, before the server stops
    // accepting: answers that wait (a stall, a paced body) should end their wait, as the stop
    // lets every running answer finish first.
    std::function<void()> Stopping;
};

// The one way our servers serve. Binds `server` to `address` with a listen backlog large enough
// for bursts of parallel connects, prints "<program>: listening on http://ADDRESS:PORT" on
// standard output (with the port the system chose for port 0) and serves until SIGTERM or
// SIGINT arrives, also one that arrives before serving has begun; then calls the Stopping hook,
// stops accepting, lets running requests end and returns 0. Returns 1 with a message on
// standard error when the address cannot be bound or serving fails.
//
// Call before any other thread is started: the two signals are blocked in the calling thread
// (and so in every thread it starts) and taken by a thread of their own.
int RunHttpServer(httplib::Server& server, const TListenAddress& address, const char* program,
                  const TServeHooks& hooks = {});
