#pragma once

#include <QString>
#include <memory>

// The questions and notices the engine puts to the user. The client answers them with its
// windows and dialogs, headless programs with their arguments and standard error, tests with a
// script. Set once at start with SetUserInteraction; until then a silent default answers.
class IUserInteraction {
public:
    virtual ~IUserInteraction() = default;

    // A plain message with an OK button.
    virtual void ShowMessage(const QString& text) = 0;
    // A failure the application's error reporting shows.
    virtual void ShowError(const QString& text) = 0;
    // A Yes/No question; true for Yes.
    virtual bool AskYesNo(const QString& text) = 0;
    // A one-line input; false when the user cancels. `value` holds the default on entry.
    virtual bool AskText(const QString& caption, const QString& prompt, QString& value) = 0;
    // The status window of long work on the GUI thread.
    virtual void ShowStatus(const QString& text) = 0;
    virtual void HideStatus() = 0;
};

// The interaction in force; never null.
IUserInteraction& UserInteraction();
// Installs `interaction` (nullptr restores the silent default). The caller keeps ownership.
void SetUserInteraction(IUserInteraction* interaction);
