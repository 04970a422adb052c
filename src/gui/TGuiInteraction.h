#pragma once

#include "core/UserInteraction.h"

// Answers the engine's questions and notices with the client's windows and dialogs.
class TGuiInteraction final : public IUserInteraction {
public:
    void ShowMessage(const QString& text) override;
    void ShowError(const QString& text) override;
    bool AskYesNo(const QString& text) override;
    bool AskText(const QString& caption, const QString& prompt, QString& value) override;
    void ShowStatus(const QString& text) override;
    void HideStatus() override;
};
