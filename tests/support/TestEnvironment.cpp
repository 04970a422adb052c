#include "support/TestEnvironment.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

namespace testenv {

namespace {

std::unique_ptr<QTemporaryDir> home;

void SetVariable(const char* name, const QString& value) {
    qputenv(name, QFile::encodeName(value));
}

} // namespace

void PrepareProcessEnvironment() {
    if (home)
        return;
    home = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tavilon-test-XXXXXX"));
    if (!home->isValid())
        std::abort();
    const QString root = home->path();
    for (const char* folder : {"config", "data", "cache", "Documents"})
        QDir(root).mkpath(QString::fromLatin1(folder));
    SetVariable("HOME", root);
    SetVariable("XDG_CONFIG_HOME", root + QStringLiteral("/config"));
    SetVariable("XDG_DATA_HOME", root + QStringLiteral("/data"));
    SetVariable("XDG_CACHE_HOME", root + QStringLiteral("/cache"));
    // The servers of a test are its own: no address from the developer's shell leaks in.
    for (const char* variable : {"TAVILON_CATALOGUE_URL", "TAVILON_FILEHOST_URL", "TAVILON_METADATA_URL"})
        qunsetenv(variable);
}

QString HomeDir() { return home ? home->path() : QString(); }

QString SettingsFile() {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/morvek software/tavilon.conf");
}

void ClearSettingsStore() { QFile::remove(SettingsFile()); }

QString MakeTempDir(const QString& prefix) {
    static QAtomicInt counter;
    const QString path = HomeDir() + QStringLiteral("/%1-%2").arg(prefix).arg(counter.fetchAndAddRelaxed(1));
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

QString BinDir() { return QStringLiteral(TAVILON_BIN_DIR); }

QString CorpusDir() {
    const QString fromEnvironment = qEnvironmentVariable("TAVILON_RAR_CORPUS");
    return fromEnvironment.isEmpty() ? QDir::cleanPath(QStringLiteral(TAVILON_CORPUS_DIR)) : fromEnvironment;
}

} // namespace testenv
