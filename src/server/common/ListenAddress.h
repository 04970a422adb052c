#pragma once

#include <QString>
#include <optional>

// The ADDRESS:PORT of a server's --listen option. Port 0 asks the system for a free port; the
// server then prints the one it got.
struct TListenAddress {
    QString Host;
    int Port = 0;

    // "127.0.0.1:8180", "[::1]:8180", "localhost:0"; nullopt for anything else.
    static std::optional<TListenAddress> Parse(const QString& text);
    QString ToString() const;
};
