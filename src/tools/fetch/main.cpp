// tavilon-fetch: downloads and extracts one video headlessly through the client's own
// pipeline (login, link check, volume downloader, streaming extractor).

#include "api/Ttavilonapi.h"
#include "core/ErrorReporting.h"
#include "core/Errors.h"
#include "platform/OptionDefaults.h"
#include "platform/TerminationSignals.h"
#include "tools/fetch/FetchProgram.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <iostream>

namespace {

const char kUsage[] =
    "Usage: tavilon-fetch --user NAME --password PASSWORD [--compressed DIR] [--uncompressed DIR]\n"
    "                     [--retries N] [LINE...]\n"
    "Logs in at the file host of TAVILON_FILEHOST_URL (default http://127.0.0.1:8181), checks\n"
    "the video's links, downloads its volumes and extracts the video while they arrive.\n"
    "  LINE              the video's lines: its links in volume order and an optional\n"
    "                    \"password:<archive password>\" line; read from standard input,\n"
    "                    one a line, when none are given\n"
    "  --compressed DIR  folder for the volumes (default: the client's setting)\n"
    "  --uncompressed DIR folder for the video (default: the client's setting)\n"
    "  --retries N       check unavailable links again up to N times (default 0)\n"
    "Prints once a second \"volume I/N PERCENT% SPEED overall PERCENT%\", then\n"
    "\"playable SECONDS PATH\" once the video can be played and \"done SECONDS PATH\" once it\n"
    "is complete; exits 0 then, and non-zero with a message on any failure.\n";

constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

} // namespace

int main(int argc, char* argv[]) {
    std::optional<QString> startError;
    try {
        RegisterOptionDefaults();
    } catch (const Exception& error) {
        startError = error.Message();
    }
    TErrorReportingApplication<QCoreApplication> application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavilon-fetch"));

    TFetchOptions options;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const auto usageError = [](const QString& message) {
        std::cerr << "tavilon-fetch: " << message.toStdString() << "\n" << kUsage;
        return kExitUsage;
    };
    bool onlyLines = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        if (onlyLines || !word.startsWith(QLatin1String("--"))) {
            options.lines << word;
            continue;
        }
        if (word == QLatin1String("--")) {
            onlyLines = true;
            continue;
        }
        if (word == QLatin1String("--help")) {
            std::cout << kUsage;
            return 0;
        }
        if (i + 1 >= arguments.size())
            return usageError(word + QStringLiteral(" needs a value"));
        const QString value = arguments[++i];
        if (word == QLatin1String("--user"))
            options.user = value;
        else if (word == QLatin1String("--password"))
            options.password = value;
        else if (word == QLatin1String("--compressed"))
            options.compressedDir = value;
        else if (word == QLatin1String("--uncompressed"))
            options.uncompressedDir = value;
        else if (word == QLatin1String("--retries")) {
            bool ok = false;
            options.retries = value.toInt(&ok);
            if (!ok || options.retries < 0)
                return usageError(QStringLiteral("--retries needs a whole number"));
        } else
            return usageError(QStringLiteral("unknown option ") + word);
    }
    if (options.user.isEmpty() || options.password.isEmpty())
        return usageError(QStringLiteral("--user and --password are required"));
    if (startError) {
        std::cerr << "tavilon-fetch: " << startError->toStdString() << "\n";
        return 1;
    }
    if (options.lines.isEmpty()) {
        QTextStream in(stdin);
        while (!in.atEnd())
            options.lines << in.readLine();
    }

    Ttavilonapi data;
    TFetchProgram program(options);
    OnTerminationSignal([] {
        std::cerr << "tavilon-fetch: interrupted\n";
        QCoreApplication::exit(kExitInterrupted);
    });
    try {
        program.Start();
    } catch (const EAbort&) {
        std::cerr << "tavilon-fetch: some of the links are not available\n";
        return 1;
    } catch (const Exception& error) {
        std::cerr << "tavilon-fetch: " << error.Message().toStdString() << "\n";
        return 1;
    }
    return QCoreApplication::exec();
}
