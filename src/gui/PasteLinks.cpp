#include "gui/PasteLinks.h"

#include "core/Utils.h"

#include <QClipboard>
#include <QGuiApplication>

void PasteLinks(QStringList& target) {
    target.append(ExtractLinks(QGuiApplication::clipboard()->text()));
}
