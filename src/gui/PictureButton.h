#pragma once

#include <QSize>
#include <QString>

class QPushButton;
class QWidget;

// A push button of the windows' look: a rounded face of RGB(141, 178, 227), lighter under the
// mouse, darker while pressed, a white rim while it has the focus; `picture` (a resource path)
// as its icon, `hint` as its tool tip, a hand cursor, fixed at `size`.
QPushButton* MakePictureButton(QWidget* parent, const QString& name, const QString& picture,
                               const QString& hint, QSize size, QSize iconSize);
