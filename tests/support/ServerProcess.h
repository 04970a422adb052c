#pragma once

#include "support/TestEnvironment.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <csignal>
#include <sys/prctl.h>

namespace testenv {

// One of our server programs, started on an ephemeral port of 127.0.0.1 for one test and
// stopped with SIGTERM when it goes out of scope. The program announces its address with a
// line "PROGRAM: listening on http://HOST:PORT" on standard output.
class TServerProcess {
public:
    static constexpr int StartTimeoutMs = 15000;
    static constexpr int StopTimeoutMs = 10000;

    // Starts BinDir()/program with `arguments` and "--listen 127.0.0.1:0"; Url() is empty when
    // the program did not announce an address in time.
    TServerProcess(
        const QString& program, const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        process_.setProcessEnvironment(environment);
        // The server ends with the test, also when the test process dies.
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.setReadChannel(QProcess::StandardOutput);
        process_.start(BinDir() + QLatin1Char('/') + program, QStringList(arguments)
                                                                  << QStringLiteral("--listen")
                                                                  << QStringLiteral("127.0.0.1:0"));
        const QDeadlineTimer deadline(StartTimeoutMs);
        static const QRegularExpression address(
            QStringLiteral(": listening on (http://[0-9.]+:[0-9]+)"));
        QByteArray seen;
        while (url_.isEmpty() && !deadline.hasExpired() &&
               process_.state() != QProcess::NotRunning) {
            if (!process_.canReadLine())
                process_.waitForReadyRead(100);
            while (process_.canReadLine()) {
                const QString line = QString::fromUtf8(process_.readLine());
                const QRegularExpressionMatch match = address.match(line);
                if (match.hasMatch()) {
                    url_ = match.captured(1);
                    break;
                }
            }
        }
    }

    ~TServerProcess() { Stop(); }

    TServerProcess(const TServerProcess&) = delete;
    TServerProcess& operator=(const TServerProcess&) = delete;

    // "http://127.0.0.1:PORT", without a trailing "/".
    const QString& Url() const { return url_; }

    // Sends SIGTERM and waits; returns the exit code, or -1 when it did not end normally.
    int Stop() {
        if (process_.state() == QProcess::NotRunning)
            return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
        process_.terminate();
        if (!process_.waitForFinished(StopTimeoutMs)) {
            process_.kill();
            process_.waitForFinished(StopTimeoutMs);
            return -1;
        }
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    QString StandardError() { return QString::fromUtf8(process_.readAllStandardError()); }
    QProcess& Process() { return process_; }

private:
    QProcess process_;
    QString url_;
};

} // namespace testenv
