// The test HTTP server as a program, for benches: serves a folder with byte ranges, optionally
// capping each connection's rate. Prints its base address, serves until SIGTERM or SIGINT.
#include "support/TestHttpServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) {
    stopRequested = 1;
}

void Usage() {
    std::fprintf(stderr, "usage: tavilon-bench-httpd --root DIR [--listen ADDRESS:PORT] "
                         "[--rate BYTES_PER_SECOND] [--threads N]\n");
}

} // namespace

int main(int argc, char* argv[]) {
    std::string root, address = "127.0.0.1";
    int port = 0, threads = 64;
    long long rate = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--root" && hasValue) {
            root = argv[++i];
        } else if (arg == "--listen" && hasValue) {
            const std::string value = argv[++i];
            const size_t colon = value.rfind(':');
            if (colon == std::string::npos) {
                Usage();
                return 2;
            }
            address = value.substr(0, colon);
            port = std::atoi(value.c_str() + colon + 1);
        } else if (arg == "--rate" && hasValue) {
            rate = std::atoll(argv[++i]);
        } else if (arg == "--threads" && hasValue) {
            threads = std::atoi(argv[++i]);
        } else {
            Usage();
            return arg == "--help" ? 0 : 2;
        }
    }
    if (root.empty()) {
        Usage();
        return 2;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    TTestHttpServer server(threads);
    server.SetDocumentRoot(root);
    server.SetRateLimit(rate);
    server.Start(address, port);
    std::printf("http://%s:%d\n", address.c_str(), server.Port());
    std::fflush(stdout);
    while (!stopRequested)
        ::usleep(100000);
    server.Stop();
    return 0;
}
