#include "server/common/ServerCommandLine.h"

#include <cstdio>

namespace {

const QString ListenOption = QStringLiteral("listen");
const QString HelpOption = QStringLiteral("help");
const QString VersionOption = QStringLiteral("version");

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

} // namespace

TServerCommandLine::TServerCommandLine(QString program, QString command, const QString& synopsis,
                                       const QString& description,
                                       const TListenAddress& defaultListen)
    : program_(std::move(program)), command_(std::move(command)), synopsis_(synopsis),
      defaultListen_(defaultListen) {
    parser_.setApplicationDescription(
        description +
        QStringLiteral("\n\nPrints \"%1: listening on http://ADDRESS:PORT\" once it serves;\n"
                       "SIGTERM or SIGINT stops it.")
            .arg(program_));
    parser_.addOption({{QStringLiteral("h"), HelpOption}, QStringLiteral("Prints this text.")});
    parser_.addOption({VersionOption, QStringLiteral("Prints the version.")});
    parser_.addOption({ListenOption,
                       QStringLiteral("The address and port to serve on; port 0 takes a free "
                                      "one (default %1).")
                           .arg(defaultListen_.ToString()),
                       QStringLiteral("ADDRESS:PORT")});
}

void TServerCommandLine::AddOption(const QString& name, const QString& help,
                                   const QString& valueName) {
    parser_.addOption({name, help, valueName});
}

std::optional<int> TServerCommandLine::Parse(const QStringList& arguments) {
    const QString invocation = command_.isEmpty() ? program_ : program_ + u' ' + command_;
    if (!parser_.parse(QStringList(invocation) + arguments)) {
        const QStringList unknown = parser_.unknownOptionNames();
        if (unknown.isEmpty()) {
            // Qt's own text, such as "Missing value after '--db'.", as one of our messages.
            QString text = parser_.errorText();
            if (text.endsWith(u'.'))
                text.chop(1);
            if (!text.isEmpty())
                text[0] = text[0].toLower();
            return UsageError(text);
        }
        const QString& name = unknown.front();
        return UsageError(QStringLiteral("unknown argument ") +
                          (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    }
    if (parser_.isSet(HelpOption)) {
        // Qt's first line names the executable's path; ours names the program and its options.
        const QString help = parser_.helpText();
        Print(stdout, QStringLiteral("Usage: %1 %2").arg(invocation, synopsis_) +
                          help.mid(help.indexOf(u'\n')));
        return 0;
    }
    if (parser_.isSet(VersionOption)) {
        Print(stdout, VersionText(program_) + u'\n');
        return 0;
    }
    if (!parser_.positionalArguments().isEmpty())
        return UsageError(QStringLiteral("unknown argument ") +
                          parser_.positionalArguments().front());
    listen_ = defaultListen_;
    if (parser_.isSet(ListenOption)) {
        const QString text = parser_.value(ListenOption);
        const auto address = TListenAddress::Parse(text);
        if (!address)
            return UsageError(QStringLiteral("--listen wants ADDRESS:PORT, such as %1, not \"%2\"")
                                  .arg(defaultListen_.ToString(), text));
        listen_ = *address;
    }
    return std::nullopt;
}

int TServerCommandLine::UsageError(const QString& message) const {
    const QString invocation = command_.isEmpty() ? program_ : program_ + u' ' + command_;
    Print(stderr, QStringLiteral("%1: %2 (see '%1 --help')\n").arg(invocation, message));
    return 2;
}

QString VersionText(const QString& program) {
    return program + QStringLiteral(" " TAVILON_VERSION);
}
