// Downloads one URL with the multipart downloader the way the volume downloader runs it (a
// number of ranges, up to eleven running, always the earliest), then prints what it cost:
//   bytes=... seconds=... mib_per_s=... cpu_s=... cpu_s_per_gib=... max_rss_kib=...
#include "download/PartDriver.h"
#include "download/TMultipartHttpDownloader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: tavilon-bench-mphttp URL OUTFILE [--parts N|--parts-per-mib] "
                             "[--running N]\n");
        return 2;
    }
    const QString url = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    int parts = 100, running = 11;
    bool partsPerMiB = false;
    for (int i = 3; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--parts") && i + 1 < argc)
            parts = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--parts-per-mib"))
            partsPerMiB = true;
        else if (!std::strcmp(argv[i], "--running") && i + 1 < argc)
            running = std::atoi(argv[++i]);
    }

    TMultipartHttpDownloader downloader;
    downloader.URL = url;
    downloader.PartCount = parts;
    downloader.SetFileStream(TSharedFileStream::Create(output));
    TPartDriver driver(downloader, running);
    // As the volume downloader does: one range per whole MiB, never fewer than 100.
    if (partsPerMiB)
        downloader.SetOnAsyncHeaderEnd([&downloader](THttpCli* sender) {
            if (sender->StatusCode() == 200)
                downloader.PartCount =
                    std::max<int>(100, static_cast<int>(sender->ContentLength() / 1048576));
        });
    downloader.SetOnRequestDone([&](TMultipartHttpDownloader*, int code, const QString& reason) {
        driver.doneCode = code;
        driver.doneReason = reason;
        application.quit();
    });
    QElapsedTimer clock;
    clock.start();
    downloader.Start();
    application.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                       usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    const double bytes = static_cast<double>(downloader.ContentLength());
    std::printf("code=%d parts=%zu bytes=%.0f seconds=%.3f mib_per_s=%.1f cpu_s=%.3f "
                "cpu_s_per_gib=%.3f max_rss_kib=%ld\n",
                driver.doneCode, downloader.Parts().size(), bytes, seconds,
                bytes / 1048576.0 / seconds, cpu, bytes > 0 ? cpu / (bytes / 1073741824.0) : 0.0,
                usage.ru_maxrss);
    return driver.doneCode == 200 ? 0 : 1;
}
