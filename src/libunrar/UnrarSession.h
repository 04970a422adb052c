#pragma once

// One open archive of the listing library: the handle behind RAROpenArchiveEx.

#include "libunrar/UnrarInterface.h"
#include "rar/ByteSource.h"
#include "rar/RarCrypto.h"
#include "rar/VolumeReader.h"

#include <memory>
#include <string>

namespace unrar {

class UnrarSession {
public:
    UnrarSession() = default;
    UnrarSession(const UnrarSession&) = delete;
    UnrarSession& operator=(const UnrarSession&) = delete;

    // Opens the first volume; the result code goes to `result`. False when it failed.
    bool Open(const std::string& path, unsigned int mode, UNRARCALLBACK callback,
              RAR_LPARAM userData, int& result);
    const rar::ArchiveInfo& Archive() const { return firstArchive_; }

    // RARReadHeaderEx: the next entry, or ERAR_END_ARCHIVE / an error code.
    int ReadHeader(RARHeaderDataEx& header);
    int ReadHeader(RARHeaderData& header);
    // RARProcessFile.
    int ProcessFile(int operation, const char* destPath, const char* destName);

    void SetCallback(UNRARCALLBACK callback, RAR_LPARAM userData) {
        callback_ = callback;
        userData_ = userData;
    }
    void SetChangeVolProc(CHANGEVOLPROC proc) { changeVolProc_ = proc; }
    void SetProcessDataProc(PROCESSDATAPROC proc) { processDataProc_ = proc; }
    void SetPassword(const std::string& password);

private:
    int OpenVolume(const std::string& path, bool first);
    int ReadPendingHeaders();
    int NextEntry();
    int SkipCurrent();
    int ChangeVolume();
    bool AskPassword();
    int Extract(int operation, const char* destPath, const char* destName);
    int StatusCode(rar::Status status) const;
    int Callback(unsigned int msg, RAR_LPARAM p1, RAR_LPARAM p2);
    const rar::DataKeys& KeysFor(const rar::EncryptionParams& params);

    std::string firstPath_, volumePath_;
    unsigned int mode_ = RAR_OM_LIST;
    UNRARCALLBACK callback_ = nullptr;
    RAR_LPARAM userData_ = 0;
    CHANGEVOLPROC changeVolProc_ = nullptr;
    PROCESSDATAPROC processDataProc_ = nullptr;
    std::string password_;
    bool passwordSet_ = false;

    std::unique_ptr<rar::FileSource> source_;
    std::unique_ptr<rar::VolumeReader> reader_;
    rar::ArchiveInfo firstArchive_;
    rar::Entry current_;
    bool haveCurrent_ = false;
    // Encrypted headers and no way to ask at open: the password is asked for through the
    // callback registered afterwards, at the first header read (as older libraries did).
    bool passwordPending_ = false;
    bool lastSplitAfter_ = false;

    struct CachedKeys {
        rar::EncryptionParams params;
        std::string password;
        rar::DataKeys keys;
        bool valid = false;
    } cached_;
};

} // namespace unrar
