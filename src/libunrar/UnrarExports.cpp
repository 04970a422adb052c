// The exported entry points of libunrar.so. Every one catches whatever the reading code
// raises: no exception leaves the library.

#include "libunrar/UnrarInterface.h"
#include "libunrar/UnrarSession.h"
#include "rar/RarText.h"

#include <cstring>
#include <new>

#define UNRAR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

unrar::UnrarSession* Session(void* handle) {
    return static_cast<unrar::UnrarSession*>(handle);
}

std::string ArchivePath(const char* narrow, const wchar_t* wide) {
    if (wide != nullptr && *wide != L'\0') {
        std::u32string w;
        for (const wchar_t* p = wide; *p != L'\0'; ++p)
            w.push_back(static_cast<char32_t>(*p));
        return rar::Utf32ToUtf8(w);
    }
    return narrow != nullptr ? std::string(narrow) : std::string();
}

// The archive comment into the caller's buffer, with the documented states: 0 none,
// 1 read, ERAR_SMALL_BUF cut to fit. A packed comment is not unpacked and counts as none.
void FillComment(const rar::ArchiveInfo& a, char* buf, unsigned int size, unsigned int& cmtSize,
                 unsigned int& cmtState) {
    cmtSize = 0;
    cmtState = 0;
    if (buf == nullptr || size == 0 || !a.commentRead)
        return;
    const std::size_t need = a.comment.size() + 1;
    if (need > size) {
        std::memcpy(buf, a.comment.data(), size - 1);
        buf[size - 1] = '\0';
        cmtSize = size;
        cmtState = ERAR_SMALL_BUF;
        return;
    }
    std::memcpy(buf, a.comment.c_str(), need);
    cmtSize = static_cast<unsigned int>(need);
    cmtState = 1;
}

} // namespace

UNRAR_EXPORT void* RAROpenArchiveEx(RAROpenArchiveDataEx* d) {
    if (d == nullptr)
        return nullptr;
    try {
        auto session = std::make_unique<unrar::UnrarSession>();
        int result = ERAR_SUCCESS;
        d->CmtSize = 0;
        d->CmtState = 0;
        d->Flags = 0;
        if (!session->Open(ArchivePath(d->ArcName, d->ArcNameW), d->OpenMode, d->Callback,
                           d->UserData, result)) {
            d->OpenResult = static_cast<unsigned int>(result);
            return nullptr;
        }
        d->OpenResult = ERAR_SUCCESS;
        d->Flags = session->Archive().DllFlags();
        FillComment(session->Archive(), d->CmtBuf, d->CmtBufSize, d->CmtSize, d->CmtState);
        return session.release();
    } catch (const std::bad_alloc&) {
        d->OpenResult = ERAR_NO_MEMORY;
    } catch (...) {
        d->OpenResult = ERAR_UNKNOWN;
    }
    return nullptr;
}

UNRAR_EXPORT void* RAROpenArchive(RAROpenArchiveData* d) {
    if (d == nullptr)
        return nullptr;
    RAROpenArchiveDataEx ex;
    std::memset(&ex, 0, sizeof ex);
    ex.ArcName = d->ArcName;
    ex.OpenMode = d->OpenMode;
    ex.CmtBuf = d->CmtBuf;
    ex.CmtBufSize = d->CmtBufSize;
    void* h = RAROpenArchiveEx(&ex);
    d->OpenResult = ex.OpenResult;
    d->CmtSize = ex.CmtSize;
    d->CmtState = ex.CmtState;
    return h;
}

UNRAR_EXPORT int RARCloseArchive(void* h) {
    if (h == nullptr)
        return ERAR_ECLOSE;
    delete Session(h);
    return ERAR_SUCCESS;
}

namespace {

// Runs one call of the interface: no exception crosses into the caller's C code.
template <typename Call> int Guarded(Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return ERAR_NO_MEMORY;
    } catch (...) {
        return ERAR_UNKNOWN;
    }
}

} // namespace

UNRAR_EXPORT int RARReadHeaderEx(void* h, RARHeaderDataEx* d) {
    if (h == nullptr || d == nullptr)
        return ERAR_UNKNOWN;
    return Guarded([&] { return Session(h)->ReadHeader(*d); });
}

UNRAR_EXPORT int RARReadHeader(void* h, RARHeaderData* d) {
    if (h == nullptr || d == nullptr)
        return ERAR_UNKNOWN;
    return Guarded([&] { return Session(h)->ReadHeader(*d); });
}

UNRAR_EXPORT int RARProcessFile(void* h, int operation, char* destPath, char* destName) {
    if (h == nullptr)
        return ERAR_UNKNOWN;
    return Guarded([&] { return Session(h)->ProcessFile(operation, destPath, destName); });
}

UNRAR_EXPORT void RARSetCallback(void* h, UNRARCALLBACK callback, RAR_LPARAM userData) {
    if (h != nullptr)
        Session(h)->SetCallback(callback, userData);
}

UNRAR_EXPORT void RARSetChangeVolProc(void* h, CHANGEVOLPROC proc) {
    if (h != nullptr)
        Session(h)->SetChangeVolProc(proc);
}

UNRAR_EXPORT void RARSetProcessDataProc(void* h, PROCESSDATAPROC proc) {
    if (h != nullptr)
        Session(h)->SetProcessDataProc(proc);
}

UNRAR_EXPORT void RARSetPassword(void* h, char* password) {
    if (h == nullptr)
        return;
    try {
        Session(h)->SetPassword(password != nullptr ? rar::Legacy8BitToUtf8(password, false) : "");
    } catch (...) {
    }
}

UNRAR_EXPORT int RARGetDllVersion() {
    return TAVILON_UNRAR_DLL_VERSION;
}
