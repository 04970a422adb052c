#include "app/Errors.h"
#include "app/OptionDefaults.h"
#include "app/TApplication.h"
#include "app/TGuiInteraction.h"
#include "browse/TMainForm.h"
#include "catalogue/CatalogueInterface.h"
#include "platform/TerminationSignals.h"

#include <optional>

int main(int argc, char* argv[]) {
    // The catalogue interface, the settings sections and their defaults exist before the
    // application object.
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

    TMainForm mainForm;
    OnTerminationSignal([&] { mainForm.close(); });
    mainForm.showMaximized();
    const int exitCode = TApplication::exec();
    SetUserInteraction(nullptr);
    return exitCode;
}
