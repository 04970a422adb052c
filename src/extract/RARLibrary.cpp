#include "extract/RARLibrary.h"

#include "core/UserInteraction.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibrary>
#include <memory>

const char* const kRARLibraryTooOldText =
    "Your version of the RAR library is too old. Please download the newest \"unrar.dll\" "
    "file (libunrar.so) from the RAR maker's web site.";

namespace {

// The bare library name; QLibrary adds the platform's prefix and suffix (libunrar.so).
const char kLibraryName[] = "unrar";

// The library's file name in a folder. Spelt out: beside the client there is also the
// extractor's folder "unrar", which QLibrary would try first for the bare name.
QString LibraryFileName() {
#if defined(Q_OS_WIN)
    return QStringLiteral("%1.dll").arg(QLatin1String(kLibraryName));
#elif defined(Q_OS_MACOS)
    return QStringLiteral("lib%1.dylib").arg(QLatin1String(kLibraryName));
#else
    return QStringLiteral("lib%1.so").arg(QLatin1String(kLibraryName));
#endif
}
// Bytes of a program's header read to tell its type.
constexpr qint64 kExecutableHeaderSize = 4;

struct LoaderState {
    std::unique_ptr<QLibrary> module;
    bool loaded = false;
    TRARFunctions functions;
    QString folder;
};

LoaderState& State() {
    static LoaderState state;
    return state;
}

template <typename F> void Resolve(QLibrary& lib, const char* name, F& target) {
    target = reinterpret_cast<F>(lib.resolve(name));
}

} // namespace

void SetRARLibraryFolder(const QString& folder) {
    State().folder = folder;
}

void LoadRARLibrary() {
    LoaderState& s = State();
    if (s.loaded)
        return;
    const QString folder = s.folder.isEmpty() ? QCoreApplication::applicationDirPath() : s.folder;
    auto lib = std::make_unique<QLibrary>(QDir(folder).filePath(LibraryFileName()));
    if (folder.isEmpty() || !lib->load()) {
        lib = std::make_unique<QLibrary>(QString::fromLatin1(kLibraryName));
        if (!lib->load())
            return;
    }
    s.module = std::move(lib);
    s.loaded = true;
    QLibrary& m = *s.module;
    TRARFunctions& f = s.functions;
    Resolve(m, "RAROpenArchive", f.RAROpenArchive);
    Resolve(m, "RAROpenArchiveEx", f.RAROpenArchiveEx);
    Resolve(m, "RARCloseArchive", f.RARCloseArchive);
    Resolve(m, "RARReadHeader", f.RARReadHeader);
    Resolve(m, "RARReadHeaderEx", f.RARReadHeaderEx);
    Resolve(m, "RARProcessFile", f.RARProcessFile);
    Resolve(m, "RARSetCallback", f.RARSetCallback);
    Resolve(m, "RARSetChangeVolProc", f.RARSetChangeVolProc);
    Resolve(m, "RARSetProcessDataProc", f.RARSetProcessDataProc);
    Resolve(m, "RARSetPassword", f.RARSetPassword);
    Resolve(m, "RARGetDllVersion", f.RARGetDllVersion);
    // A library that cannot tell its version is treated like one too old; either way it
    // stays loaded and in use.
    const int version = f.RARGetDllVersion != nullptr ? f.RARGetDllVersion() : 0;
    if (version < kMinRARLibraryVersion)
        UserInteraction().ShowError(QString::fromUtf8(kRARLibraryTooOldText));
}

void UnloadRARLibrary() {
    LoaderState& s = State();
    if (s.module) {
        s.module->unload();
        s.module.reset();
    }
    s.loaded = false;
    s.functions = TRARFunctions{};
}

bool IsRARLibraryLoaded() {
    return State().loaded;
}

const TRARFunctions& RARFunctions() {
    return State().functions;
}

bool IsExecutableFile(const QString& path) {
    // The executable types of the Windows test (MS-DOS, 16-bit Windows, OS/2, POSIX and
    // 32-bit Windows programs, and here 64-bit Windows programs too) all begin with the MZ
    // header; ELF is this platform's own program format. PIF files carry no header and are
    // not recognised.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(kExecutableHeaderSize);
    return head.startsWith("MZ") || head.startsWith("\x7f"
                                                    "ELF");
}
