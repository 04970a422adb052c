#include "gui/PictureButton.h"

#include <QIcon>
#include <QPushButton>

namespace {

const QString ButtonStyle = QStringLiteral(
    "QPushButton { background-color: rgb(141, 178, 227); border: 1px solid rgb(86, 124, 184);"
    " border-radius: 8px; }"
    "QPushButton:hover { background-color: rgb(160, 194, 238); }"
    "QPushButton:pressed { background-color: rgb(116, 155, 210); }"
    "QPushButton:focus { border: 2px solid rgb(255, 255, 255); }");

} // namespace

QPushButton* MakePictureButton(QWidget* parent, const QString& name, const QString& picture,
                               const QString& hint, QSize size, QSize iconSize) {
    auto* button = new QPushButton(parent);
    button->setObjectName(name);
    button->setIcon(QIcon(picture));
    button->setIconSize(iconSize);
    button->setFixedSize(size);
    button->setToolTip(hint);
    button->setStyleSheet(ButtonStyle);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}
