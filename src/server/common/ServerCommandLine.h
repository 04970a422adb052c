#pragma once

#include "server/common/ListenAddress.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <optional>

// The command line of a server: --listen ADDRESS:PORT, --help (-h) and --version, which every
// server takes, and the server's own options, added with AddOption before Parse. Usage errors
// go to standard error as "PROGRAM: MESSAGE (see 'PROGRAM --help')", PROGRAM with the command
// for a program of several commands.
class TServerCommandLine {
public:
    // `program` names the program, `command` its serving command (empty for a program that
    // only serves); `synopsis` follows them on the help's first line, `description` below it.
    TServerCommandLine(QString program, QString command, const QString& synopsis,
                       const QString& description, const TListenAddress& defaultListen);

    // An option of this server: one that takes a value named `valueName`, or a flag.
    void AddOption(const QString& name, const QString& help, const QString& valueName = {});

    // Reads the arguments after the program (and its command). nullopt when the server is to
    // start; otherwise the exit code: 0 after printing the help or the version, 2 after a usage
    // error.
    std::optional<int> Parse(const QStringList& arguments);

    // The address to serve on, once Parse has returned nullopt.
    const TListenAddress& Listen() const { return listen_; }
    bool IsSet(const QString& name) const { return parser_.isSet(name); }
    QString Value(const QString& name) const { return parser_.value(name); }

    // Reports a usage error the server found in its own options; returns 2.
    int UsageError(const QString& message) const;

private:
    QCommandLineParser parser_;
    QString program_;
    QString command_;
    QString synopsis_;
    TListenAddress listen_;
    TListenAddress defaultListen_;
};

// What --version prints: "PROGRAM VERSION".
QString VersionText(const QString& program);
