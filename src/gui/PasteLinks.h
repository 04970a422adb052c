#pragma once

#include <QStringList>

// Appends the links found in the clipboard's text to `target`, one per line that holds one.
void PasteLinks(QStringList& target);
