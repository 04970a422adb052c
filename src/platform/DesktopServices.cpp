#include "platform/DesktopServices.h"

#include <QDesktopServices>
#include <QUrl>

void ShellOpen(const QString& address) {
    QDesktopServices::openUrl(QUrl(address));
}
