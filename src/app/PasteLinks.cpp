#include "app/PasteLinks.h"

#include "app/Utils.h"

#include <QClipboard>
#include <QGuiApplication>

void PasteLinks(QStringList& target) {
    target.append(ExtractLinks(QGuiApplication::clipboard()->text()));
}
