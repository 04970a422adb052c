#include "api/Ttavilonapi.h"
#include "browse/TMainForm.h"
#include "catalogue/CatalogueInterface.h"
#include "core/Errors.h"
#include "gui/TApplication.h"
#include "gui/TGuiInteraction.h"
#include "platform/OptionDefaults.h"
#include "platform/TerminationSignals.h"
#include "player/TfrmPlayer.h"
#include "webbrowser/TWebBrowser.h"

#include <QScopeGuard>
#include <optional>

int main(int argc, char* argv[]) {
    // The catalogue interface, the settings sections and their defaults exist before the
    // application object.
    PrepareWebBrowser();
    std::optional<QString> startError;
    try {
        RegisterCatalogueInterface();
        RegisterOptionDefaults();
    } catch (const Exception& e) {
        startError = e.Message();
    }

    TApplication application(argc, argv);
    TApplication::setApplicationName(QStringLiteral("tavilon"));
    TGuiInteraction interaction;
    SetUserInteraction(&interaction);
    if (startError) {
        interaction.ShowError(*startError);
        return 1;
    }

    // A stop request ends every event loop, a message box's or a dialog's included; one that
    // arrives while the main window is still being created ends the program once it exists.
    bool stopRequested = false;
    OnTerminationSignal([&] {
        stopRequested = true;
        TApplication::closeAllWindows();
        TApplication::exit(0);
    });
    TMainForm mainForm;
    // The data module, made by the main window, asks the user to confirm a registration
    // through the main window; the hook goes before the window does.
    if (tavilonapi) {
        tavilonapi->SetOnConfirmImdbTitle([&mainForm](QString& title, QString& imdbId) {
            mainForm.ConfirmImdbTitle(title, imdbId);
        });
        tavilonapi->SetOnPlayLinks(
            [](const QStringList& lines, const QString& description, bool sendInfo) {
                OpenPlayerWindow(lines, description, sendInfo);
            });
        mainForm.SetOnPlayVideo([](qint64 videoId, const QString& description) {
            tavilonapi->PlayVideo(videoId, description);
        });
    }
    const auto unhook = qScopeGuard([] {
        if (tavilonapi) {
            tavilonapi->SetOnConfirmImdbTitle(nullptr);
            tavilonapi->SetOnPlayLinks(nullptr);
        }
    });
    if (stopRequested)
        return 0;
    mainForm.showMaximized();
    const int exitCode = TApplication::exec();
    SetUserInteraction(nullptr);
    return exitCode;
}
