#include "gui/TGuiInteraction.h"

#include "gui/TfrmStatus.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace {

QString Title() { return QApplication::applicationName(); }

} // namespace

void TGuiInteraction::ShowMessage(const QString& text) {
    QMessageBox::information(QApplication::activeWindow(), Title(), text);
}

void TGuiInteraction::ShowError(const QString& text) {
    QMessageBox::critical(QApplication::activeWindow(), Title(), text);
}

bool TGuiInteraction::AskYesNo(const QString& text) {
    return QMessageBox::question(QApplication::activeWindow(), Title(), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool TGuiInteraction::AskText(const QString& caption, const QString& prompt, QString& value) {
    bool accepted = false;
    const QString answer = QInputDialog::getText(QApplication::activeWindow(), caption, prompt,
                                                 QLineEdit::Normal, value, &accepted);
    if (accepted)
        value = answer;
    return accepted;
}

void TGuiInteraction::ShowStatus(const QString& text) { ::ShowStatus(text); }

void TGuiInteraction::HideStatus() { ::HideStatus(); }
