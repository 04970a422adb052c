#include "browse/TMainForm.h"

#include "app/ErrorReporting.h"
#include "app/OptionsManager.h"
#include "app/TfrmStatus.h"
#include "app/Ttavilonapi.h"

#include <QCoreApplication>
#include <QScopeGuard>

TMainForm::TMainForm(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("tavilon"));
    // As with every creation handler, a failure is reported and the window still comes up.
    RunReportingErrors([this] { FormCreate(); });
}

void TMainForm::FormCreate() {
    ShowStatus(LoadingText);
    const auto hideStatus = qScopeGuard([] { HideStatus(); });
    QCoreApplication::processEvents();

    // A value of the wrong type is reported; the values not read keep their defaults and
    // start-up goes on, so the program stays usable and the options dialog can mend it.
    RunReportingErrors([] { OptionsManager().LoadAll(); });

    auto* dataModule = new Ttavilonapi(QCoreApplication::instance());
    dataModule->CreateWorkingDirectories();
}
