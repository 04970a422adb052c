#include "core/UserInteraction.h"

#include <QTextStream>

namespace {

// Answers every question with its refusal and writes notices to standard error.
class TSilentInteraction final : public IUserInteraction {
public:
    void ShowMessage(const QString& text) override { QTextStream(stderr) << text << '\n'; }
    void ShowError(const QString& text) override { QTextStream(stderr) << text << '\n'; }
    bool AskYesNo(const QString&) override { return false; }
    bool AskText(const QString&, const QString&, QString&) override { return false; }
    void ShowStatus(const QString&) override {}
    void HideStatus() override {}
};

TSilentInteraction silentInteraction;
IUserInteraction* current = &silentInteraction;

} // namespace

IUserInteraction& UserInteraction() { return *current; }

void SetUserInteraction(IUserInteraction* interaction) {
    current = interaction ? interaction : &silentInteraction;
}
