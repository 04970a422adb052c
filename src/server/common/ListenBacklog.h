#pragma once

#include <httplib.h>

#include <memory>

// cpp-httplib listens with a backlog of 5: a burst of parallel connects (eleven ranges of a
// volume starting together) overflows it, and the dropped connection attempts come back only
// after the kernel's one-second retransmission. Construct this before the server binds, and
// call Raise() once it is bound.
class TListenBacklog {
public:
    // Connection attempts the kernel queues for us.
    static constexpr int Backlog = 1024;

    // Remembers the server's listening socket (keeping the socket's address reuse).
    explicit TListenBacklog(httplib::Server& server);
    // Raises the bound socket's backlog; does nothing when the server is not bound.
    void Raise() const;

private:
    std::shared_ptr<int> socket_;
};
