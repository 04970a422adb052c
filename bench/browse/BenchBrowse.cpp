// tavilon-bench-browse refresh N    times N RefreshPage calls of one window, with the covers'
//                                   pictures decoded already and decoded anew from their files
// tavilon-bench-browse startup NS   the client's start-up steps up to the first page shown;
//                                   NS is the wall clock (ns since the epoch) before exec
// The environment says where the servers and the images folder are, as for the client
// (TAVILON_CATALOGUE_URL, TAVILON_METADATA_URL, TAVILON_IMAGES_DIR).
#include "browse/TGradientLabel.h"
#include "browse/TMainForm.h"
#include "core/ErrorReporting.h"
#include "gui/TApplication.h"
#include "gui/TGuiInteraction.h"
#include "platform/OptionDefaults.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

void PrintSeries(const char* name, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double share) {
        return ms[static_cast<size_t>(share * (ms.size() - 1))];
    };
    std::printf("%-44s n=%zu  p50 %.2f ms  p95 %.2f ms  min %.2f ms  max %.2f ms\n", name,
                ms.size(), at(0.5), at(0.95), ms.front(), ms.back());
}

int Refresh(int count) {
    TMainForm form;
    form.show();
    QCoreApplication::processEvents();
    const int covers =
        static_cast<int>(std::count_if(form.PanelImdbIds.begin(), form.PanelImdbIds.end(),
                                       [](const QString& id) { return !id.isEmpty(); }));
    std::printf("page: %s, %d covers, %lld panels\n", qPrintable(form.statusLabel->text()), covers,
                static_cast<long long>(form.CoverPanels.size()));
    std::vector<double> decoded;
    std::vector<double> fromFiles;
    QElapsedTimer timer;
    for (int i = 0; i < count; ++i) {
        timer.start();
        form.RefreshPage();
        decoded.push_back(timer.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents();
    }
    const QImage placeholder = *form.images.Find(TPictureContainer::NoImageName);
    for (int i = 0; i < count; ++i) {
        form.images.Clear();
        form.images.Add(TPictureContainer::NoImageName, placeholder);
        timer.start();
        form.RefreshPage();
        fromFiles.push_back(timer.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents();
    }
    PrintSeries("RefreshPage, pictures held", decoded);
    PrintSeries("RefreshPage, pictures read from cover files", fromFiles);
    return 0;
}

int Startup(long long startedNs) {
    // The client's own start: settings sections, application object, window, first paint.
    TMainForm form;
    form.showMaximized();
    QTimer::singleShot(0, &form, [&] {
        form.repaint();
        const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
        std::printf("start to first page shown: %.1f ms (%s)\n", (now - startedNs) / 1e6,
                    qPrintable(form.statusLabel->text()));
        QCoreApplication::exit(0);
    });
    return TApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    RegisterOptionDefaults();
    TApplication application(argc, argv);
    TApplication::setApplicationName(QStringLiteral("tavilon"));
    TGuiInteraction interaction;
    SetUserInteraction(&interaction);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    int result = 2;
    if (mode == QLatin1String("refresh") && argc == 3)
        result = Refresh(std::max(1, std::atoi(argv[2])));
    else if (mode == QLatin1String("startup") && argc == 3)
        result = Startup(std::atoll(argv[2]));
    else
        std::fprintf(stderr, "usage: tavilon-bench-browse refresh N | startup NS\n");
    SetUserInteraction(nullptr);
    return result;
}
