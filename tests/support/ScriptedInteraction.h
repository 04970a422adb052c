#pragma once

#include "core/UserInteraction.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>

// Answers the engine's questions from a script and records every notice, for tests.
// Installs itself on construction and restores the silent default on destruction.
class TScriptedInteraction final : public IUserInteraction {
public:
    TScriptedInteraction() { SetUserInteraction(this); }
    ~TScriptedInteraction() override { SetUserInteraction(nullptr); }

    // Answers for the next AskYesNo calls, in order; when they run out, the answer is No.
    std::deque<bool> yesNoAnswers;
    // Answers for the next AskText calls, in order; nullopt is a Cancel; when they run out,
    // Cancel.
    std::deque<std::optional<QString>> textAnswers;

    QStringList messages;
    QStringList errors;
    QStringList questions;
    QStringList prompts;
    QStringList statusShown;
    int statusHidden = 0;

    void ShowMessage(const QString& text) override { messages.append(text); }
    void ShowError(const QString& text) override { errors.append(text); }
    bool AskYesNo(const QString& text) override {
        questions.append(text);
        if (yesNoAnswers.empty())
            return false;
        const bool answer = yesNoAnswers.front();
        yesNoAnswers.pop_front();
        return answer;
    }
    bool AskText(const QString&, const QString& prompt, QString& value) override {
        prompts.append(prompt);
        if (textAnswers.empty())
            return false;
        const std::optional<QString> answer = textAnswers.front();
        textAnswers.pop_front();
        if (!answer)
            return false;
        value = *answer;
        return true;
    }
    void ShowStatus(const QString& text) override { statusShown.append(text); }
    void HideStatus() override { ++statusHidden; }
};
