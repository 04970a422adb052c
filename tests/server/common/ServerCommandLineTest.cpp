#include "support/TestEnvironment.h"

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

// Every server reads --help, --version and --listen the same way, through its serving command.
TEST(ServerCommandLine, EveryServerTakesTheSharedOptions) {
    const struct {
        const char* program;
        QStringList command;
    } servers[] = {
        {"tavilon-catalogue", {QStringLiteral("serve")}},
        {"tavilon-filehost", {QStringLiteral("serve")}},
        {"tavilon-metadata", {}},
    };
    const struct {
        QStringList arguments;
        int exitCode;
        const char* pattern; // found in the output; %1 is the program
    } cases[] = {
        {{QStringLiteral("--version")}, 0, "^%1 [0-9]+\\.[0-9]+\n$"},
        {{QStringLiteral("--help")}, 0, "listening on http://ADDRESS:PORT"},
        {{QStringLiteral("-h")}, 0, "--listen <ADDRESS:PORT>"},
        {{QStringLiteral("--listen"), QStringLiteral("127.0.0.1")},
         2,
         "--listen wants ADDRESS:PORT"},
        {{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:65536")}, 2, "ADDRESS:PORT"},
        {{QStringLiteral("--listen")}, 2, "missing value after '--listen'"},
        {{QStringLiteral("--bogus")}, 2, "unknown argument --bogus \\(see '%1"},
        {{QStringLiteral("word")}, 2, "unknown argument word"},
    };
    for (const auto& server : servers) {
        const QString program = QString::fromLatin1(server.program);
        for (const auto& c : cases) {
            const QStringList arguments = server.command + c.arguments;
            const std::string what = (program + u' ' + arguments.join(u' ')).toStdString();
            QProcess process;
            process.start(testenv::BinDir() + u'/' + program, arguments);
            ASSERT_TRUE(process.waitForFinished(10000)) << what;
            EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << what;
            EXPECT_EQ(process.exitCode(), c.exitCode) << what;
            const QString output = QString::fromLocal8Bit(process.readAllStandardOutput() +
                                                          process.readAllStandardError());
            const QRegularExpression pattern(QString::fromLatin1(c.pattern).arg(program));
            EXPECT_TRUE(pattern.match(output).hasMatch()) << what << "\n" << output.toStdString();
        }
    }
}

} // namespace
