#pragma once

#include <QString>
#include <QStringList>

// Volumes an earlier playback left in the compressed folder would mislead the extractor of the
// next one: it takes a left-over later volume for the set's next part while that part is still
// being downloaded again. Before a playback starts, every archive volume there ("*.rar",
// "*.r00" to "*.r99") is moved aside under its name + EarlierSuffix (replacing an older one), so
// that no volume is visible under a real name the new playback has not written itself.
inline const QString EarlierSuffix = QStringLiteral(".earlier");

// The file names moved, in folder order. A file that cannot be moved is left (and not named).
QStringList MoveEarlierVolumesAside(const QString& compressedDir);
