#include "server/common/ListenBacklog.h"

#include <sys/socket.h>

TListenBacklog::TListenBacklog(httplib::Server& server) : socket_(std::make_shared<int>(-1)) {
    server.set_socket_options([socket = socket_](socket_t listening) {
        int yes = 1;
        ::setsockopt(listening, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        *socket = listening;
    });
}

void TListenBacklog::Raise() const {
    if (*socket_ >= 0)
        ::listen(*socket_, Backlog);
}
