#pragma once

// The process-wide handle of the RAR listing library (libunrar.so, loaded by the bare name
// "unrar") and its entry points, resolved by export name.

#include "libunrar/UnrarInterface.h"

#include <QString>

struct TRARFunctions {
    RAROpenArchive_t RAROpenArchive = nullptr;
    RAROpenArchiveEx_t RAROpenArchiveEx = nullptr;
    RARCloseArchive_t RARCloseArchive = nullptr;
    RARReadHeader_t RARReadHeader = nullptr;
    RARReadHeaderEx_t RARReadHeaderEx = nullptr;
    RARProcessFile_t RARProcessFile = nullptr;
    RARSetCallback_t RARSetCallback = nullptr;
    RARSetChangeVolProc_t RARSetChangeVolProc = nullptr;
    RARSetProcessDataProc_t RARSetProcessDataProc = nullptr;
    RARSetPassword_t RARSetPassword = nullptr;
    RARGetDllVersion_t RARGetDllVersion = nullptr;
};

// The lowest interface version the binding works with.
constexpr int kMinRARLibraryVersion = 4;
// What the user is told when the library is older than that (or cannot say its version).
extern const char* const kRARLibraryTooOldText;

// Loads the library (the program's own folder first, then the system's search order),
// resolves the eleven entry points and checks the version. Success shows in
// IsRARLibraryLoaded().
void LoadRARLibrary();
// Releases the library and forgets every entry point.
void UnloadRARLibrary();
bool IsRARLibraryLoaded();
// The entry points of the loaded library (all empty when none is loaded).
const TRARFunctions& RARFunctions();

// The folder searched before the system's search order; the program's own folder unless
// set (tests point it at a library of their own). An empty text restores the default.
void SetRARLibraryFolder(const QString& folder);

// True when the file is an executable program: MS-DOS, 16-bit Windows, OS/2, 32-bit and
// 64-bit Windows programs (judged from the file's own header), and ELF programs.
bool IsExecutableFile(const QString& path);
