#pragma once

// Starts the real tavilon-filehost on a free port of 127.0.0.1 for a test, with its own store
// folder, and runs its other commands on that store. Header-only so that the tests of every
// folder that talk to the file host can use it.

#include "support/TestEnvironment.h"

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>

namespace testenv {

// The outcome of one run of a command of the program.
struct TCommandResult {
    int exitCode = -1;
    QString out;
    QString err;
};

inline QString FileHostProgram() {
    return BinDir() + QStringLiteral("/tavilon-filehost");
}

inline TCommandResult RunFileHostCommand(const QStringList& arguments) {
    QProcess process;
    process.start(FileHostProgram(), arguments);
    TCommandResult result;
    if (!process.waitForStarted() || !process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

class TFileHostProcess {
public:
    // Starts `serve` with `serveOptions` on a new store folder (or `store`).
    explicit TFileHostProcess(const QStringList& serveOptions = {}, QString store = {})
        : store_(store.isEmpty() ? MakeTempDir(QStringLiteral("filehost-store")) : store) {
        QStringList arguments{QStringLiteral("serve"), QStringLiteral("--listen"),
                              QStringLiteral("127.0.0.1:0"), QStringLiteral("--store"), store_};
        if (qEnvironmentVariableIsSet("TAVILON_FILEHOST_LOG"))
            arguments << QStringLiteral("--log");
        arguments += serveOptions;
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The server ends with the test, also when the test process dies.
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process_.start(FileHostProgram(), arguments);
        if (!process_.waitForStarted())
            return;
        static const QRegularExpression listening(
            QStringLiteral("listening on http://[^:]+:(\\d+)"));
        QByteArray seen;
        while (port_ == 0 && process_.waitForReadyRead(20000)) {
            seen += process_.readAllStandardOutput();
            const auto match = listening.match(QString::fromUtf8(seen));
            if (match.hasMatch())
                port_ = match.captured(1).toInt();
        }
    }

    ~TFileHostProcess() { Stop(); }
    TFileHostProcess(const TFileHostProcess&) = delete;
    TFileHostProcess& operator=(const TFileHostProcess&) = delete;

    bool Running() const { return port_ > 0 && process_.state() == QProcess::Running; }
    int Port() const { return port_; }
    QString Url() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }
    const QString& Store() const { return store_; }

    // Stops the server with SIGTERM; its exit code, -1 when it had to be killed.
    int Stop() {
        if (process_.state() == QProcess::NotRunning)
            return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(15000)) {
            process_.kill();
            process_.waitForFinished();
            return -1;
        }
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    // An account with few hash iterations, so that tests log in quickly.
    void AddUser(const QString& name, const QString& password) {
        const TCommandResult result = RunFileHostCommand(
            {QStringLiteral("add-user"), QStringLiteral("--store"), store_,
             QStringLiteral("--iterations"), QStringLiteral("1000"), name, password});
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    }

    // Stores the files; their links in order.
    QStringList Add(const QStringList& files) {
        QStringList arguments{QStringLiteral("add"), QStringLiteral("--store"), store_,
                              QStringLiteral("--host"), QStringLiteral("127.0.0.1:%1").arg(port_)};
        const TCommandResult result = RunFileHostCommand(arguments + files);
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        return result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    void Disable(const QString& id) {
        const TCommandResult result =
            RunFileHostCommand({QStringLiteral("disable"), QStringLiteral("--store"), store_, id});
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    }

    // The id of a link printed by Add.
    static QString IdOf(const QString& link) {
        return link.mid(link.indexOf(QStringLiteral("d=")) + 2);
    }

private:
    QString store_;
    QProcess process_;
    int port_ = 0;
};

} // namespace testenv
