#pragma once

#include <QString>

namespace testenv {

// Gives the test process a private home: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and
// XDG_CACHE_HOME point into a temporary folder removed at exit, so the settings store, the
// documents folder and the servers' data folders of a test never touch the user's own.
// Called by the test mains before the application object exists.
void PrepareProcessEnvironment();

// The private home folder of this test process.
QString HomeDir();

// Removes the settings store's file, so the next read sees a clean account.
void ClearSettingsStore();

// The settings store's file: "<XDG_CONFIG_HOME>/morvek software/tavilon.conf".
QString SettingsFile();

// A fresh empty folder below the private home, unique within the process.
QString MakeTempDir(const QString& prefix = QStringLiteral("dir"));

// The folder holding our built programs, libunrar.so, images/ and unrar/.
QString BinDir();

// The folder of the real RAR archives shared with the project.
QString CorpusDir();

} // namespace testenv
