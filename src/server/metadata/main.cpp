// tavilon-metadata: serves title pages with posters and a title search from a folder.
#include "server/common/RunHttpServer.h"
#include "server/common/ServerCommandLine.h"
#include "server/metadata/MetadataServer.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr const char* Program = "tavilon-metadata";
const TListenAddress DefaultListen{QStringLiteral("127.0.0.1"), 8182};

constexpr const char* Description =
    "Serves the movie-metadata web site from DIR, which holds one sub-folder per title:\n"
    "  DIR/tt<ID>/info.txt     lines \"title: ...\", \"year: ...\", \"plot: ...\"\n"
    "  DIR/tt<ID>/poster.jpg   the poster (.jpg, .jpeg, .png or .gif; optional)\n"
    "\n"
    "Pages:\n"
    "  /title/tt<ID>/                 the title page with its poster anchor and links to\n"
    "                                 the next titles of DIR\n"
    "  /title/tt<ID>/plotsummary      the title's plot summary\n"
    "  /poster/tt<ID>.<ext>           the poster picture\n"
    "  /find?q=WORDS;mx=20;tt=on      titles holding every word, as /title/tt<ID>/ links";

} // namespace

int main(int argc, char* argv[]) {
    TServerCommandLine commandLine(
        QString::fromLatin1(Program), QString(),
        QStringLiteral("[--listen ADDRESS:PORT] [--public-url URL] --dir DIR"),
        QString::fromUtf8(Description), DefaultListen);
    commandLine.AddOption(QStringLiteral("public-url"),
                          QStringLiteral("The base address the pages name the posters with "
                                         "(default http://ADDRESS:PORT as bound)."),
                          QStringLiteral("URL"));
    commandLine.AddOption(QStringLiteral("dir"), QStringLiteral("The titles folder (required)."),
                          QStringLiteral("DIR"));
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (const auto exitCode = commandLine.Parse(arguments))
        return *exitCode;
    const std::string dir = commandLine.Value(QStringLiteral("dir")).toLocal8Bit().toStdString();
    if (dir.empty())
        return commandLine.UsageError(QStringLiteral("--dir is required"));

    std::vector<std::string> warnings;
    MetadataLibrary library;
    try {
        library = MetadataLibrary::Load(dir, warnings);
    } catch (const std::exception& e) {
        std::cerr << Program << ": " << e.what() << "\n";
        return 2;
    }
    for (const std::string& warning : warnings)
        std::cerr << Program << ": " << warning << "\n";

    MetadataServer server(std::move(library),
                          commandLine.Value(QStringLiteral("public-url")).toStdString());
    return RunHttpServer(server.Http(), commandLine.Listen(), Program, server.Hooks());
}
