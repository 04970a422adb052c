#include "server/catalogue/CatalogueCommands.h"

#include "catalogue/CatalogueNamespaces.h"
#include "server/catalogue/TCatalogueService.h"
#include "server/catalogue/TCatalogueStore.h"
#include "server/common/RunHttpServer.h"
#include "server/common/ServerCommandLine.h"
#include "soap/ESoapFault.h"

#include <QCommandLineParser>
#include <QFile>
#include <QTextStream>
#include <cstdio>
#include <memory>

namespace {

const char* const Program = "tavilon-catalogue";
const TListenAddress DefaultListen{QStringLiteral("127.0.0.1"), 8180};
const QString DbOptionHelp = QStringLiteral(
    "The catalogue: sqlite:PATH or postgresql://... (default: a file in the user's data folder).");
// Requests one connection may carry before the server closes it.
constexpr size_t KeepAliveRequests = 10000;
// The latest year an operator may set.
constexpr int LastYear = 2200;

void PrintError(const QString& text) {
    std::fprintf(stderr, "%s: %s\n", Program, text.toLocal8Bit().constData());
}

void PrintLine(const QString& text) {
    std::fputs((text + u'\n').toLocal8Bit().constData(), stdout);
}

// The catalogue of a --db value; an empty one is the default.
TDatabaseLocation LocationOf(const QString& db) {
    return db.isEmpty() ? TDatabaseLocation::Default() : TDatabaseLocation::Parse(db);
}

// A parser for one administration command, with --help and --db.
class TCommandLine {
public:
    TCommandLine(const QString& command, const QString& description, const QString& synopsis)
        : command_(command), synopsis_(synopsis) {
        parser_.setApplicationDescription(description);
        parser_.addHelpOption();
        parser_.addOption({QStringLiteral("db"), DbOptionHelp, QStringLiteral("DB")});
    }

    QCommandLineParser& Parser() { return parser_; }

    // Parses; false with `exitCode` set when the command should end (help or wrong usage).
    bool Parse(const QStringList& arguments, int positionals, int& exitCode) {
        QStringList all = arguments;
        all.prepend(QStringLiteral("%1 %2").arg(QString::fromLatin1(Program), command_));
        if (!parser_.parse(all)) {
            PrintError(parser_.errorText());
            exitCode = 2;
            return false;
        }
        if (parser_.isSet(QStringLiteral("help"))) {
            QString help = parser_.helpText();
            const qsizetype firstLineEnd = help.indexOf(u'\n');
            help = QStringLiteral("Usage: %1 %2 %3")
                       .arg(QString::fromLatin1(Program), command_, synopsis_) +
                   help.mid(firstLineEnd);
            std::fputs(help.toLocal8Bit().constData(), stdout);
            exitCode = 0;
            return false;
        }
        if (parser_.positionalArguments().size() != positionals) {
            PrintError(QStringLiteral("usage: %1 %2 %3 (see --help)")
                           .arg(QString::fromLatin1(Program), command_, synopsis_));
            exitCode = 2;
            return false;
        }
        return true;
    }

    TDatabaseLocation Location() const { return LocationOf(parser_.value(QStringLiteral("db"))); }

private:
    QCommandLineParser parser_;
    QString command_;
    QString synopsis_;
};

std::unique_ptr<TCatalogueStore> OpenStore(const TCommandLine& commandLine) {
    auto store = std::make_unique<TCatalogueStore>(commandLine.Location());
    store->Migrate();
    return store;
}

// A video id or a number of the command line; false with a message when it is not one.
bool ReadNumber(const QString& text, const QString& what, qint64 low, qint64 high, qint64& number) {
    bool ok = !text.isEmpty();
    for (const QChar c : text)
        ok = ok && c >= u'0' && c <= u'9';
    number = ok ? text.toLongLong(&ok) : 0;
    if (!ok || number < low || number > high) {
        PrintError(QStringLiteral("%1 must be a number from %2 to %3, not \"%4\"")
                       .arg(what)
                       .arg(low)
                       .arg(high)
                       .arg(text));
        return false;
    }
    return true;
}

// Checks a video before it is stored; false with a message.
bool CheckNewVideo(TNewVideo& video, const QString& where) {
    try {
        TCatalogueService::CheckTitle(video.Title);
        if (video.Record.ImdbId.startsWith(QStringLiteral("tt")))
            video.Record.ImdbId = video.Record.ImdbId.mid(2);
        TCatalogueService::CheckImdbId(video.Record.ImdbId, true);
    } catch (const ESoapFault& fault) {
        PrintError(where + fault.Message());
        return false;
    }
    video.Title = video.Title.trimmed();
    if (video.Record.Links.isEmpty()) {
        PrintError(where + QStringLiteral("the video has no link"));
        return false;
    }
    for (const QString& link : video.Record.Links) {
        if (link.size() > TCatalogueService::MaxLineLength || link.contains(u'\r')) {
            PrintError(where + QStringLiteral("a link is too long or holds a line break"));
            return false;
        }
    }
    return true;
}

} // namespace

int ServeCommand(const QStringList& arguments) {
    TServerCommandLine commandLine(QString::fromLatin1(Program), QStringLiteral("serve"),
                                   QStringLiteral("[--listen ADDRESS:PORT] [--db DB]"),
                                   QStringLiteral("Serves the catalogue."), DefaultListen);
    commandLine.AddOption(QStringLiteral("db"), DbOptionHelp, QStringLiteral("DB"));
    if (const auto exitCode = commandLine.Parse(arguments))
        return *exitCode;
    TDatabaseLocation location;
    try {
        location = LocationOf(commandLine.Value(QStringLiteral("db")));
        TCatalogueStore(location).Migrate();
    } catch (const Exception& failure) {
        PrintError(failure.Message());
        return 1;
    }

    TCatalogueService service([location]() -> TCatalogueStore& {
        thread_local std::unique_ptr<TCatalogueStore> store;
        if (!store)
            store = std::make_unique<TCatalogueStore>(location);
        return *store;
    });

    httplib::Server server;
    server.set_payload_max_length(static_cast<size_t>(TCatalogueService::MaxRequestBytes));
    server.set_keep_alive_max_count(KeepAliveRequests);
    server.set_tcp_nodelay(true);
    const std::string path = catalogue::EndpointPath.toStdString();
    const auto send = [](httplib::Response& response, const THttpReply& reply) {
        response.status = reply.Status;
        response.set_content(reply.Body, reply.ContentType.c_str());
    };
    server.Post(path, [&](const httplib::Request& request, httplib::Response& response) {
        send(response, service.HandleSoap(QByteArray::fromStdString(request.body)));
    });
    server.Get(path, [&](const httplib::Request& request, httplib::Response& response) {
        const QString endpoint = QStringLiteral("http://") +
                                 QString::fromStdString(request.get_header_value("Host")) +
                                 catalogue::EndpointPath;
        send(response, service.HandleGet(request.params, endpoint));
    });
    const auto notAllowed = [](const httplib::Request&, httplib::Response& response) {
        response.status = 405;
        response.set_header("Allow", "GET, POST");
        response.set_content("Only GET and POST are offered here\r\n", "text/plain");
    };
    server.Put(path, notAllowed);
    server.Delete(path, notAllowed);
    server.Patch(path, notAllowed);
    server.Options(path, notAllowed);
    server.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
        if (!response.body.empty())
            return;
        if (response.status == 413) {
            const THttpReply reply = TCatalogueService::TooLarge();
            response.status = 413;
            response.set_content(reply.Body, reply.ContentType.c_str());
        } else if (response.status == 404) {
            response.set_content("Not found: " + request.path + "\r\n", "text/plain");
        } else {
            response.set_content("The request could not be served\r\n", "text/plain");
        }
    });
    return RunHttpServer(server, commandLine.Listen(), Program);
}

int AddCommand(const QStringList& arguments) {
    TCommandLine commandLine(
        QStringLiteral("add"), QStringLiteral("Adds a video and prints its id."),
        QStringLiteral("[--db DB] --title T [--imdb ID] [--quality Q] [--lang L] [--password P] "
                       "[--size TEXT] [--file NAME] [--year YYYY] [--rating N] --link URL "
                       "[--link URL ...]"));
    QCommandLineParser& parser = commandLine.Parser();
    const struct {
        const char* name;
        const char* help;
    } options[] = {{"title", "The title shown on the cover (required)."},
                   {"imdb", "The IMDb id, digits (a leading \"tt\" is dropped)."},
                   {"quality", "The quality, such as \"DVD Rip\"."},
                   {"lang", "The language, such as \"English\"."},
                   {"password", "The archive password."},
                   {"size", "The size as shown, such as \"700 MB\"."},
                   {"file", "The file name of the video."},
                   {"year", "The production year (default: the year in --file, if any)."},
                   {"rating", "The rating, 0 to 10 (0 = unrated)."},
                   {"link", "A volume link, in volume order (at least one; repeatable)."}};
    for (const auto& option : options)
        parser.addOption({QString::fromLatin1(option.name), QString::fromLatin1(option.help),
                          QStringLiteral("VALUE")});
    int exitCode = 0;
    if (!commandLine.Parse(arguments, 0, exitCode))
        return exitCode;

    TNewVideo video;
    video.Title = parser.value(QStringLiteral("title"));
    video.Record.ImdbId = parser.value(QStringLiteral("imdb"));
    video.Record.Quality = parser.value(QStringLiteral("quality"));
    video.Record.Lang = parser.value(QStringLiteral("lang"));
    video.Record.Password = parser.value(QStringLiteral("password"));
    video.Record.Size = parser.value(QStringLiteral("size"));
    video.Record.File = parser.value(QStringLiteral("file"));
    video.Record.Links = parser.values(QStringLiteral("link"));
    qint64 number = 0;
    if (parser.isSet(QStringLiteral("year"))) {
        if (!ReadNumber(parser.value(QStringLiteral("year")), QStringLiteral("--year"), 0, LastYear,
                        number))
            return 2;
        video.Year = static_cast<int>(number);
    }
    if (parser.isSet(QStringLiteral("rating"))) {
        if (!ReadNumber(parser.value(QStringLiteral("rating")), QStringLiteral("--rating"), 0,
                        TCatalogueStore::MaxRating, number))
            return 2;
        video.Rating = static_cast<int>(number);
    }
    if (!CheckNewVideo(video, QString()))
        return 2;
    try {
        auto store = OpenStore(commandLine);
        if (const auto known = store->FindByLinks(video.Record.Links)) {
            PrintError(QStringLiteral("a video with these links is known already"));
            PrintLine(QString::number(*known));
            return 0;
        }
        PrintLine(QString::number(store->Add(video)));
        return 0;
    } catch (const Exception& failure) {
        PrintError(failure.Message());
        return 1;
    }
}

int ListCommand(const QStringList& arguments) {
    TCommandLine commandLine(
        QStringLiteral("list"),
        QStringLiteral("Prints the videos, one a line: id, title, IMDb id, quality, language, "
                       "plays, rating and year, separated by tabs."),
        QStringLiteral("[--db DB]"));
    int exitCode = 0;
    if (!commandLine.Parse(arguments, 0, exitCode))
        return exitCode;
    try {
        auto store = OpenStore(commandLine);
        for (const TVideoSummary& video : store->List()) {
            PrintLine(QStringList{QString::number(video.Id), video.Title, video.ImdbId,
                                  video.Quality, video.Lang, QString::number(video.Plays),
                                  QString::number(video.Rating), QString::number(video.Year)}
                          .join(u'\t'));
        }
        return 0;
    } catch (const Exception& failure) {
        PrintError(failure.Message());
        return 1;
    }
}

namespace {

// The commands that change one video: remove, rate, year.
int ChangeVideo(const QStringList& arguments, const QString& command, const QString& description,
                const QString& synopsis, const QString& valueName, qint64 low, qint64 high,
                const std::function<bool(TCatalogueStore&, qint64, int)>& change) {
    TCommandLine commandLine(command, description, synopsis);
    int exitCode = 0;
    const int positionals = valueName.isEmpty() ? 1 : 2;
    if (!commandLine.Parse(arguments, positionals, exitCode))
        return exitCode;
    const QStringList values = commandLine.Parser().positionalArguments();
    qint64 id = 0;
    qint64 value = 0;
    if (!ReadNumber(values[0], QStringLiteral("ID"), 1, INT64_MAX, id))
        return 2;
    if (positionals == 2 && !ReadNumber(values[1], valueName, low, high, value))
        return 2;
    try {
        auto store = OpenStore(commandLine);
        if (!change(*store, id, static_cast<int>(value))) {
            PrintError(QStringLiteral("No video has the id %1").arg(id));
            return 1;
        }
        return 0;
    } catch (const Exception& failure) {
        PrintError(failure.Message());
        return 1;
    }
}

} // namespace

int RemoveCommand(const QStringList& arguments) {
    return ChangeVideo(arguments, QStringLiteral("remove"), QStringLiteral("Removes a video."),
                       QStringLiteral("ID [--db DB]"), QString(), 0, 0,
                       [](TCatalogueStore& store, qint64 id, int) { return store.Remove(id); });
}

int RateCommand(const QStringList& arguments) {
    return ChangeVideo(
        arguments, QStringLiteral("rate"),
        QStringLiteral("Sets a video's rating, 0 to 10 (0 = unrated); \"Top rated\" shows the "
                       "highest first."),
        QStringLiteral("ID N [--db DB]"), QStringLiteral("N"), 0, TCatalogueStore::MaxRating,
        [](TCatalogueStore& store, qint64 id, int n) { return store.SetRating(id, n); });
}

int YearCommand(const QStringList& arguments) {
    return ChangeVideo(
        arguments, QStringLiteral("year"),
        QStringLiteral("Sets a video's production year (0 = unknown); \"Latest productions\" "
                       "shows the latest first."),
        QStringLiteral("ID YYYY [--db DB]"), QStringLiteral("YYYY"), 0, LastYear,
        [](TCatalogueStore& store, qint64 id, int year) { return store.SetYear(id, year); });
}

int ImportCommand(const QStringList& arguments) {
    TCommandLine commandLine(
        QStringLiteral("import"),
        QStringLiteral(
            "Adds the videos of a record file (UTF-8). Videos are separated by blank lines; each "
            "has a \"title:\" line, optionally \"year:\" and \"rating:\" lines, the record's key "
            "lines (\"password:\", \"size:\", \"file:\", \"quality:\", \"lang:\", \"imdbid:\") "
            "and its links, one a line, in volume order. Lines starting with \"#\" are comments. "
            "Either every video is added or, on the first error, none."),
        QStringLiteral("FILE [--db DB]"));
    int exitCode = 0;
    if (!commandLine.Parse(arguments, 1, exitCode))
        return exitCode;
    const QString path = commandLine.Parser().positionalArguments().front();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        PrintError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return 1;
    }
    QTextStream in(&file);
    std::vector<std::pair<int, TNewVideo>> videos;
    QStringList block;
    int blockLine = 0;
    int lineNumber = 0;
    bool failed = false;
    const auto finishBlock = [&] {
        if (block.isEmpty())
            return;
        TNewVideo video;
        QStringList recordLines;
        for (const QString& line : block) {
            qint64 number = 0;
            if (line.startsWith(QStringLiteral("title:"))) {
                video.Title = line.mid(6);
            } else if (line.startsWith(QStringLiteral("year:"))) {
                failed =
                    failed ||
                    !ReadNumber(line.mid(5), QStringLiteral("%1:%2: year").arg(path).arg(blockLine),
                                0, LastYear, number);
                video.Year = static_cast<int>(number);
            } else if (line.startsWith(QStringLiteral("rating:"))) {
                failed =
                    failed || !ReadNumber(line.mid(7),
                                          QStringLiteral("%1:%2: rating").arg(path).arg(blockLine),
                                          0, TCatalogueStore::MaxRating, number);
                video.Rating = static_cast<int>(number);
            } else {
                recordLines.append(line);
            }
        }
        video.Record = TVideoRecord::FromLines(recordLines);
        failed =
            failed || !CheckNewVideo(video, QStringLiteral("%1:%2: ").arg(path).arg(blockLine));
        videos.emplace_back(blockLine, std::move(video));
        block.clear();
    };
    while (!in.atEnd() && !failed) {
        const QString line = in.readLine();
        ++lineNumber;
        if (line.startsWith(u'#'))
            continue;
        if (line.trimmed().isEmpty()) {
            finishBlock();
            continue;
        }
        if (block.isEmpty())
            blockLine = lineNumber;
        block.append(line);
    }
    finishBlock();
    if (failed)
        return 1;
    try {
        auto store = OpenStore(commandLine);
        int added = 0;
        int known = 0;
        store->Begin();
        try {
            for (const auto& [line, video] : videos) {
                if (store->FindByLinks(video.Record.Links)) {
                    ++known;
                    continue;
                }
                store->Add(video);
                ++added;
            }
            store->Commit();
        } catch (...) {
            store->Rollback();
            throw;
        }
        PrintLine(QStringLiteral("%1 added, %2 known already").arg(added).arg(known));
        return 0;
    } catch (const Exception& failure) {
        PrintError(failure.Message());
        return 1;
    }
}
