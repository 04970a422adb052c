// tavilon-filehost: the file host. Accounts, stored files and their links live in one folder;
// `serve` answers the web site's exchanges, the other commands change the folder.

#include "server/common/RunHttpServer.h"
#include "server/common/ServerCommandLine.h"
#include "server/filehost/FileHostServer.h"
#include "server/filehost/FileHostStore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

using namespace filehost;

namespace {

constexpr char kProgram[] = "tavilon-filehost";
const TListenAddress kDefaultListen{QStringLiteral("127.0.0.1"), 8181};

const char kUsage[] = "Usage: tavilon-filehost COMMAND [OPTIONS]\n"
                      "Commands:\n"
                      "  serve      run the file host's web site\n"
                      "  add-user   create an account or set its password\n"
                      "  add        store files and print their links\n"
                      "  disable    make a link unavailable\n"
                      "  reports    list the abuse reports\n"
                      "Run 'tavilon-filehost COMMAND --help' for a command's options;\n"
                      "'tavilon-filehost --version' prints the version.\n";

const char kAddUserUsage[] =
    "Usage: tavilon-filehost add-user [--store DIR] [--iterations N] NAME PASSWORD\n"
    "  Creates the account NAME or sets its password (stored as a salted PBKDF2 hash).\n";

const char kAddUsage[] =
    "Usage: tavilon-filehost add [--store DIR] [--host HOST] [--link] FILE...\n"
    "  Stores the files and prints one link per file, http://HOST/?d=ID, in order.\n"
    "  --host HOST  host part of the printed links (default: that of TAVILON_FILEHOST_URL,\n"
    "               else 127.0.0.1:8181)\n"
    "  --link       hard-link the files into the store instead of copying them\n";

const char kDisableUsage[] = "Usage: tavilon-filehost disable [--store DIR] ID\n"
                             "  Makes the link unavailable to the link check and to downloads.\n";

const char kReportsUsage[] =
    "Usage: tavilon-filehost reports [--store DIR]\n"
    "  Lists the abuse reports sent with the site's form (/?c=abuse), oldest first, one a\n"
    "  line as stored: time (UTC), address, links, reason, contact, tab-separated. In the\n"
    "  fields \\\\, \\t, \\n and \\r stand for a backslash, tab, line feed and carriage\n"
    "  return, \\xHH for another control byte. Damaged lines are skipped and counted on\n"
    "  standard error.\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The options of one command: "--name value" pairs, flags and the remaining words.
struct Arguments {
    std::vector<std::string> words;
    std::vector<std::pair<std::string, std::string>> options;
    bool help = false;

    std::string Get(const std::string& name, const std::string& fallback = {}) const {
        for (const auto& option : options)
            if (option.first == name)
                return option.second;
        return fallback;
    }
    bool Has(const std::string& name) const {
        for (const auto& option : options)
            if (option.first == name)
                return true;
        return false;
    }
};

Arguments Parse(int argc, char** argv, const std::vector<std::string>& valued,
                const std::vector<std::string>& flags) {
    Arguments arguments;
    bool onlyWords = false;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (onlyWords || word.size() < 2 || word[0] != '-') {
            arguments.words.push_back(word);
        } else if (word == "--") {
            onlyWords = true;
        } else if (word == "--help" || word == "-h") {
            arguments.help = true;
        } else if (std::find(flags.begin(), flags.end(), word) != flags.end()) {
            arguments.options.emplace_back(word, "1");
        } else if (std::find(valued.begin(), valued.end(), word) != valued.end()) {
            if (i + 1 >= argc)
                throw UsageError(word + " needs a value");
            arguments.options.emplace_back(word, argv[++i]);
        } else {
            throw UsageError("unknown option " + word);
        }
    }
    return arguments;
}

long long ToInteger(const std::string& text, const std::string& what, long long low,
                    long long high) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        throw UsageError(what + " must be a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high));
    return value;
}

FileHostStore OpenStore(const Arguments& arguments) {
    const std::string dir = arguments.Get("--store");
    return FileHostStore(dir.empty() ? DefaultStoreDir() : std::filesystem::path(dir));
}

std::string DefaultLinkHost() {
    const char* url = std::getenv("TAVILON_FILEHOST_URL");
    std::string host = url && *url ? url : "http://127.0.0.1:8181";
    if (const size_t scheme = host.find("://"); scheme != std::string::npos)
        host.erase(0, scheme + 3);
    if (const size_t slash = host.find('/'); slash != std::string::npos)
        host.erase(slash);
    return host;
}

int Serve(int argc, char** argv) {
    TServerCommandLine commandLine(
        QString::fromLatin1(kProgram), QStringLiteral("serve"),
        QStringLiteral("[--listen ADDRESS:PORT] [--store DIR] [OPTIONS]"),
        QStringLiteral("Runs the file host's web site."), kDefaultListen);
    const struct {
        const char* name;
        const char* value;
        const char* help;
    } ownOptions[] = {
        {"store", "DIR", "The data folder (default $XDG_DATA_HOME/tavilon-filehost)."},
        {"files-url", "URL",
         "The base address downloads relocate to: the file of id I named N is expected at "
         "URL/I/N (the layout of DIR/files)."},
        {"threads", "N", "Worker threads, one per open connection (default 96)."},
        {"log", nullptr, "One line per request on standard error."},
        {"rate-limit", "BYTES",
         "Test option: bytes per second and connection (default unlimited)."},
        {"reset-share", "FRACTION",
         "Test option: that share of file answers is cut off halfway through the body."},
        {"stall-count", "N",
         "Test option: the first N ranged file answers stop halfway through and hang."},
        {"stall-seconds", "S",
         "Test option: how long a stalled answer hangs before it is closed (default 30)."},
    };
    for (const auto& option : ownOptions)
        commandLine.AddOption(QString::fromLatin1(option.name), QString::fromLatin1(option.help),
                              option.value ? QString::fromLatin1(option.value) : QString());
    QStringList arguments;
    for (int i = 2; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (const auto exitCode = commandLine.Parse(arguments))
        return *exitCode;
    const auto value = [&commandLine](const char* name, const char* fallback = "") {
        const QString option = QString::fromLatin1(name);
        return commandLine.IsSet(option) ? commandLine.Value(option).toStdString()
                                         : std::string(fallback);
    };

    ServeOptions options;
    options.filesUrl = value("files-url");
    options.log = commandLine.IsSet(QStringLiteral("log"));
    if (!options.filesUrl.empty() && options.filesUrl.rfind("http://", 0) != 0 &&
        options.filesUrl.rfind("https://", 0) != 0)
        throw UsageError("--files-url needs an http:// or https:// address");
    options.threads = static_cast<int>(ToInteger(value("threads", "96"), "--threads", 4, 4096));
    options.rateLimit = ToInteger(value("rate-limit", "0"), "--rate-limit", 0, 1LL << 40);
    options.stallCount =
        static_cast<int>(ToInteger(value("stall-count", "0"), "--stall-count", 0, 1000000));
    options.stallSeconds =
        static_cast<int>(ToInteger(value("stall-seconds", "30"), "--stall-seconds", 0, 86400));
    if (commandLine.IsSet(QStringLiteral("reset-share"))) {
        const std::string text = value("reset-share");
        char* end = nullptr;
        options.resetShare = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(options.resetShare >= 0 && options.resetShare <= 1))
            throw UsageError("--reset-share must be a fraction from 0 to 1");
    }

    const std::string dir = value("store");
    FileHostStore store(dir.empty() ? DefaultStoreDir() : std::filesystem::path(dir));
    FileHostServer server(store, options);
    return RunHttpServer(server.Http(), commandLine.Listen(), kProgram, server.Hooks());
}

int AddUser(int argc, char** argv) {
    const Arguments arguments = Parse(argc, argv, {"--store", "--iterations"}, {});
    if (arguments.help) {
        std::cout << kAddUserUsage;
        return 0;
    }
    if (arguments.words.size() != 2)
        throw UsageError("add-user needs NAME and PASSWORD");
    const int iterations = static_cast<int>(
        ToInteger(arguments.Get("--iterations", std::to_string(kDefaultPasswordIterations)),
                  "--iterations", kMinPasswordIterations, kMaxPasswordIterations));
    FileHostStore store = OpenStore(arguments);
    store.AddUser(arguments.words[0], arguments.words[1], iterations);
    return 0;
}

int Add(int argc, char** argv) {
    const Arguments arguments = Parse(argc, argv, {"--store", "--host"}, {"--link"});
    if (arguments.help) {
        std::cout << kAddUsage;
        return 0;
    }
    if (arguments.words.empty())
        throw UsageError("add needs at least one FILE");
    const std::string host = arguments.Get("--host", DefaultLinkHost());
    FileHostStore store = OpenStore(arguments);
    for (const std::string& file : arguments.words) {
        const std::string id = store.AddFile(file, arguments.Has("--link"));
        std::cout << "http://" << host << "/?d=" << id << std::endl;
    }
    return 0;
}

int Disable(int argc, char** argv) {
    const Arguments arguments = Parse(argc, argv, {"--store"}, {});
    if (arguments.help) {
        std::cout << kDisableUsage;
        return 0;
    }
    if (arguments.words.size() != 1)
        throw UsageError("disable needs one ID");
    FileHostStore store = OpenStore(arguments);
    store.Disable(arguments.words[0]);
    return 0;
}

int Reports(int argc, char** argv) {
    const Arguments arguments = Parse(argc, argv, {"--store"}, {});
    if (arguments.help) {
        std::cout << kReportsUsage;
        return 0;
    }
    if (!arguments.words.empty())
        throw UsageError("reports takes no " + arguments.words[0]);
    const FileHostStore store = OpenStore(arguments);
    size_t skipped = 0;
    for (const std::string& line : store.ReportLines(skipped))
        std::cout << line << '\n';
    std::cout.flush();
    if (skipped > 0)
        std::cerr << "tavilon-filehost reports: " << skipped
                  << (skipped == 1 ? " damaged line" : " damaged lines") << " skipped\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (command == "--version") {
        std::cout << VersionText(QString::fromLatin1(kProgram)).toStdString() << "\n";
        return 0;
    }
    try {
        if (command == "serve")
            return Serve(argc, argv);
        if (command == "add-user")
            return AddUser(argc, argv);
        if (command == "add")
            return Add(argc, argv);
        if (command == "disable")
            return Disable(argc, argv);
        if (command == "reports")
            return Reports(argc, argv);
        std::cerr << "tavilon-filehost: unknown command " << command << "\n" << kUsage;
        return 2;
    } catch (const UsageError& error) {
        std::cerr << "tavilon-filehost " << command << ": " << error.what()
                  << " (see 'tavilon-filehost " << command << " --help')\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "tavilon-filehost " << command << ": " << error.what() << "\n";
        return 1;
    }
}
