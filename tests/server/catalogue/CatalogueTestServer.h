#pragma once

#include "support/ServerProcess.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Helpers of the catalogue tests: the administration commands, a database of either kind, and
// a private PostgreSQL cluster started for the test process.
namespace cattest {

inline constexpr int CommandTimeoutMs = 60000;
inline const QString EndpointPath = QStringLiteral("/tavilonserver.php");

struct TCommandResult {
    int ExitCode = -1;
    QString Out;
    QString Err;
};

// Runs "tavilon-catalogue ARGUMENTS" to its end.
inline TCommandResult RunCatalogue(const QStringList& arguments) {
    QProcess process;
    process.start(testenv::BinDir() + QStringLiteral("/tavilon-catalogue"), arguments);
    TCommandResult result;
    if (!process.waitForFinished(CommandTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.Out = QString::fromUtf8(process.readAllStandardOutput());
    result.Err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// A port of 127.0.0.1 that was free a moment ago.
inline int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// A PostgreSQL cluster of its own (data folder under /tmp, a free port), started on first use
// and stopped when the test process ends. PostgreSQL refuses to run as root: as root the
// cluster belongs to and runs as the user "postgres".
class TPostgresCluster {
public:
    static TPostgresCluster& Instance() {
        static TPostgresCluster cluster;
        return cluster;
    }

    // Empty when the cluster could not be started; then Problem() says why.
    bool Running() const { return running_; }
    bool BinariesAbsent() const { return binDir_.isEmpty(); }
    const QString& Problem() const { return problem_; }

    // A new empty database of the cluster, as a connection URI.
    QString NewDatabase() {
        const QString name = QStringLiteral("catalogue_%1").arg(++databases_);
        const int code =
            Run(binDir_ + QStringLiteral("/createdb"),
                {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                 QString::number(port_), QStringLiteral("-U"), QStringLiteral("postgres"), name});
        if (code != 0)
            return QString();
        return QStringLiteral("postgresql://postgres@127.0.0.1:%1/%2").arg(port_).arg(name);
    }

    ~TPostgresCluster() {
        if (running_)
            RunAsOwner(binDir_ + QStringLiteral("/pg_ctl"),
                       {QStringLiteral("-D"), dataDir_, QStringLiteral("-m"),
                        QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
        if (!baseDir_.isEmpty())
            QDir(baseDir_).removeRecursively();
    }

private:
    TPostgresCluster() {
        const QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                                         .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& version : versions) {
            if (QFile::exists(QStringLiteral("/usr/lib/postgresql/%1/bin/initdb").arg(version)))
                binDir_ = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
        }
        if (binDir_.isEmpty()) {
            problem_ = QStringLiteral("PostgreSQL binaries are absent (/usr/lib/postgresql/*/bin)");
            return;
        }
        asRoot_ = geteuid() == 0;
        char pattern[] = "/tmp/tavilon-pg-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            problem_ = QStringLiteral("cannot make a folder under /tmp");
            return;
        }
        baseDir_ = QString::fromLocal8Bit(pattern);
        dataDir_ = baseDir_ + QStringLiteral("/data");
        if (asRoot_ && Run(QStringLiteral("chown"), {QStringLiteral("postgres"), baseDir_}) != 0) {
            problem_ = QStringLiteral("cannot give %1 to the user postgres").arg(baseDir_);
            return;
        }
        if (RunAsOwner(binDir_ + QStringLiteral("/initdb"),
                       {QStringLiteral("-D"), dataDir_, QStringLiteral("-A"),
                        QStringLiteral("trust"), QStringLiteral("-U"), QStringLiteral("postgres"),
                        QStringLiteral("-E"), QStringLiteral("UTF8"),
                        QStringLiteral("--locale=C.UTF-8")}) != 0) {
            problem_ = QStringLiteral("initdb failed: ") + output_;
            return;
        }
        port_ = FreePort();
        const QString options =
            QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                .arg(port_)
                .arg(baseDir_);
        if (RunAsOwner(binDir_ + QStringLiteral("/pg_ctl"),
                       {QStringLiteral("-D"), dataDir_, QStringLiteral("-o"), options,
                        QStringLiteral("-l"), baseDir_ + QStringLiteral("/log"),
                        QStringLiteral("-w"), QStringLiteral("start")}) != 0) {
            problem_ = QStringLiteral("pg_ctl start failed: ") + output_;
            return;
        }
        running_ = true;
    }

    int Run(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForFinished(CommandTimeoutMs)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        output_ = QString::fromLocal8Bit(process.readAll());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    int RunAsOwner(const QString& program, const QStringList& arguments) {
        if (!asRoot_)
            return Run(program, arguments);
        return Run(QStringLiteral("runuser"),
                   QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                               QStringLiteral("--"), program} +
                       arguments);
    }

    QString binDir_;
    QString baseDir_;
    QString dataDir_;
    QString problem_;
    QString output_;
    bool asRoot_ = false;
    bool running_ = false;
    int port_ = 0;
    int databases_ = 0;
};

// A new empty catalogue database of the kind `backend` ("sqlite" or "postgresql"), or empty
// text with the reason in `problem`; `skip` tells whether the reason is only that PostgreSQL
// is not installed.
inline QString NewDatabase(const QString& backend, QString& problem, bool& skip) {
    skip = false;
    if (backend == u"sqlite")
        return QStringLiteral("sqlite:") + testenv::MakeTempDir(QStringLiteral("catalogue")) +
               QStringLiteral("/catalogue.sqlite");
    TPostgresCluster& cluster = TPostgresCluster::Instance();
    if (!cluster.Running()) {
        problem = cluster.Problem();
        skip = cluster.BinariesAbsent();
        return QString();
    }
    return cluster.NewDatabase();
}

// tavilon-catalogue serving `database` on an ephemeral port.
inline std::unique_ptr<testenv::TServerProcess> StartServer(const QString& database) {
    return std::make_unique<testenv::TServerProcess>(
        QStringLiteral("tavilon-catalogue"),
        QStringList{QStringLiteral("serve"), QStringLiteral("--db"), database});
}

} // namespace cattest
