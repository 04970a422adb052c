#include "browse/TCloseUpComboBox.h"

#include <QAbstractItemView>

TCloseUpComboBox::TCloseUpComboBox(QWidget* parent) : QComboBox(parent) {}

void TCloseUpComboBox::showPopup() {
    QComboBox::showPopup();
    if (QWidget* list = view()->window(); list && list != window()) {
        list->setMaximumHeight(ListHeight);
        list->setMinimumWidth(ListWidth);
    }
}

void TCloseUpComboBox::hidePopup() {
    QComboBox::hidePopup();
    if (onCloseUp_)
        onCloseUp_(this);
}
