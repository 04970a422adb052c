// tavilon-metadata: serves title pages with posters and a title search from a folder.
#include "server/metadata/MetadataServer.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

constexpr const char* DefaultListen = "127.0.0.1:8182";
constexpr std::chrono::milliseconds StopRetry(20);

constexpr const char* Usage =
    "Usage: tavilon-metadata [--listen ADDRESS:PORT] [--public-url URL] --dir DIR\n"
    "\n"
    "Serves the movie-metadata web site from DIR, which holds one sub-folder per title:\n"
    "  DIR/tt<ID>/info.txt     lines \"title: ...\", \"year: ...\", \"plot: ...\"\n"
    "  DIR/tt<ID>/poster.jpg   the poster (.jpg, .jpeg, .png or .gif; optional)\n"
    "\n"
    "Pages:\n"
    "  /title/tt<ID>/                 the title page with its poster anchor\n"
    "  /poster/tt<ID>.<ext>           the poster picture\n"
    "  /find?q=WORDS;mx=20;tt=on      titles holding every word, as /title/tt<ID>/ links\n"
    "\n"
    "Options:\n"
    "  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:8182; port 0: any free port)\n"
    "  --public-url URL       base address the pages name the posters with\n"
    "                         (default http://ADDRESS:PORT as bound)\n"
    "  --dir DIR              the titles folder (required)\n"
    "  --help                 this text\n"
    "\n"
    "Prints \"tavilon-metadata: listening on ADDRESS:PORT\" once serving; SIGTERM or SIGINT\n"
    "stops it.\n";

int Fail(const std::string& message) {
    std::cerr << "tavilon-metadata: " << message << "\n";
    return 2;
}

bool SplitListen(const std::string& text, std::string& host, int& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    host = text.substr(0, colon);
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(digits);
    return port <= 65535;
}

} // namespace

int main(int argc, char* argv[]) {
    std::string listen = DefaultListen;
    std::string publicUrl;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto value = [&](std::string& target) {
            if (i + 1 >= argc)
                return false;
            target = argv[++i];
            return true;
        };
        if (argument == "--help" || argument == "-h") {
            std::cout << Usage;
            return 0;
        }
        bool ok = true;
        if (argument == "--listen")
            ok = value(listen);
        else if (argument == "--public-url")
            ok = value(publicUrl);
        else if (argument == "--dir")
            ok = value(dir);
        else
            return Fail("unknown argument " + argument + "\n" + Usage);
        if (!ok)
            return Fail(argument + " needs a value");
    }
    if (dir.empty())
        return Fail(std::string("--dir is required\n") + Usage);
    std::string host;
    int port = 0;
    if (!SplitListen(listen, host, port))
        return Fail("--listen wants ADDRESS:PORT, not " + listen);

    std::vector<std::string> warnings;
    MetadataLibrary library;
    try {
        library = MetadataLibrary::Load(dir, warnings);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    for (const std::string& warning : warnings)
        std::cerr << "tavilon-metadata: " << warning << "\n";

    // The stop signals are taken by one thread of our own, never by a handler inside a call
    // of the HTTP library.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client that goes away while we write must not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    MetadataServer server(std::move(library), publicUrl);
    const int bound = server.Bind(host, port);
    if (bound <= 0)
        return Fail("cannot listen on " + listen);
    // A stop signal may come before serving has begun, when stopping the server does nothing
    // yet: keep asking until serving has ended.
    std::atomic<bool> serving{true};
    std::thread stopper([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        while (serving) {
            server.Stop();
            std::this_thread::sleep_for(StopRetry);
        }
    });
    std::cout << "tavilon-metadata: listening on " << host << ":" << bound << std::endl;
    const bool served = server.Run();
    serving = false;
    // Serving may also have ended without a stop signal: wake the waiting thread.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return served ? 0 : 1;
}
