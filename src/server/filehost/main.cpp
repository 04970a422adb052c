// tavilon-filehost: the file host. Accounts, stored files and their links live in one folder;
// `serve` answers the web site's exchanges, the other commands change the folder.

#include "server/filehost/FileHostServer.h"
#include "server/filehost/FileHostStore.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

using namespace filehost;

namespace {

constexpr char kDefaultListen[] = "127.0.0.1:8181";

const char kUsage[] = "Usage: tavilon-filehost COMMAND [OPTIONS]\n"
                      "Commands:\n"
                      "  serve      run the file host's web site\n"
                      "  add-user   create an account or set its password\n"
                      "  add        store files and print their links\n"
                      "  disable    make a link unavailable\n"
                      "Run 'tavilon-filehost COMMAND --help' for a command's options.\n";

const char kServeUsage[] =
    "Usage: tavilon-filehost serve [--listen ADDRESS:PORT] [--store DIR] [--files-url URL]\n"
    "  --listen ADDRESS:PORT  address to listen on (default 127.0.0.1:8181; port 0 picks one\n"
    "                         and prints it)\n"
    "  --store DIR            data folder (default $XDG_DATA_HOME/tavilon-filehost)\n"
    "  --files-url URL        base address downloads relocate to: the file of id I named N\n"
    "                         is expected at URL/I/N (the layout of DIR/files)\n"
    "  --threads N            worker threads, one per open connection (default 96)\n"
    "  --log                  one line per request on standard error\n"
    "Test options, off by default:\n"
    "  --rate-limit BYTES     bytes per second and connection\n"
    "  --reset-share FRACTION that share of file answers is cut off halfway through the body\n"
    "  --stall-count N        the first N ranged file answers stop halfway through and hang\n"
    "  --stall-seconds S      how long a stalled answer hangs before it is closed (default 30)\n"
    "Prints \"listening on http://ADDRESS:PORT\" once it accepts connections; SIGTERM or SIGINT "
    "stop "
    "it.\n";

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
    const Arguments arguments =
        Parse(argc, argv,
              {"--listen", "--store", "--files-url", "--threads", "--rate-limit", "--reset-share",
               "--stall-count", "--stall-seconds"},
              {"--log"});
    if (arguments.help) {
        std::cout << kServeUsage;
        return 0;
    }
    if (!arguments.words.empty())
        throw UsageError("serve takes no words: " + arguments.words.front());
    ServeOptions options;
    const std::string listen = arguments.Get("--listen", kDefaultListen);
    const size_t colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0)
        throw UsageError("--listen needs ADDRESS:PORT");
    options.host = listen.substr(0, colon);
    options.port = static_cast<int>(ToInteger(listen.substr(colon + 1), "the port", 0, 65535));
    options.filesUrl = arguments.Get("--files-url");
    options.log = arguments.Has("--log");
    if (!options.filesUrl.empty() && options.filesUrl.rfind("http://", 0) != 0 &&
        options.filesUrl.rfind("https://", 0) != 0)
        throw UsageError("--files-url needs an http:// or https:// address");
    options.threads =
        static_cast<int>(ToInteger(arguments.Get("--threads", "96"), "--threads", 4, 4096));
    options.rateLimit = ToInteger(arguments.Get("--rate-limit", "0"), "--rate-limit", 0, 1LL << 40);
    options.stallCount = static_cast<int>(
        ToInteger(arguments.Get("--stall-count", "0"), "--stall-count", 0, 1000000));
    options.stallSeconds = static_cast<int>(
        ToInteger(arguments.Get("--stall-seconds", "30"), "--stall-seconds", 0, 86400));
    if (arguments.Has("--reset-share")) {
        const std::string text = arguments.Get("--reset-share");
        char* end = nullptr;
        options.resetShare = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(options.resetShare >= 0 && options.resetShare <= 1))
            throw UsageError("--reset-share must be a fraction from 0 to 1");
    }

    // SIGTERM and SIGINT go to one thread that stops the server; every other thread has them
    // blocked, so no handler runs inside the library.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    FileHostStore store = OpenStore(arguments);
    FileHostServer server(store, options);
    if (!server.Bind()) {
        std::cerr << "tavilon-filehost: cannot listen on " << listen << "\n";
        return 1;
    }
    std::thread stopper([&server, signals] {
        int received = 0;
        sigwait(&signals, &received);
        server.Stop();
    });
    std::cout << "listening on http://" << options.host << ":" << server.Port() << std::endl;
    server.Run();
    // Run also returns when the listening socket fails; wake the signal thread then.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return 0;
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
    try {
        if (command == "serve")
            return Serve(argc, argv);
        if (command == "add-user")
            return AddUser(argc, argv);
        if (command == "add")
            return Add(argc, argv);
        if (command == "disable")
            return Disable(argc, argv);
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
