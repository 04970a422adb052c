#pragma once

#include "server/common/ListenAddress.h"

#include <httplib.h>

// Binds `server` to `address`, prints "<program>: listening on HOST:PORT" on standard output
// (with the port the system chose for port 0) and serves until SIGTERM or SIGINT arrives; then
// stops accepting, lets running requests end and returns 0. Returns 1 with a message on
// standard error when the address cannot be bound.
//
// Call before any other thread is started: the two signals are blocked in the calling thread
// (and so in every thread it starts) and taken by a thread of their own.
int RunHttpServer(httplib::Server& server, const TListenAddress& address, const char* program);
