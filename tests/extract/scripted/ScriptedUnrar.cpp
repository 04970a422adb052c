// A stand-in for the RAR listing library that answers from a script, for the binding's
// tests: each call reads the script file named by TAVILON_SCRIPTED_UNRAR and appends what it
// was asked and what the callbacks answered to the file named by TAVILON_SCRIPTED_UNRAR_LOG.
//
// Script lines (all optional):
//   version N              RARGetDllVersion's answer (default 8)
//   openfail               RAROpenArchiveEx gives no handle
//   flags N                archive flags of the open record
//   comment STATE [TEXT]   comment state, and TEXT into the comment buffer
//   password [SIZE]        the first RARReadHeaderEx asks for a password (buffer SIZE, 128)
//   volume NAME            the first RARProcessFile asks for the volume NAME
//   notify NAME            the first RARProcessFile announces the volume NAME
//   data N                 every RARProcessFile reports N processed bytes
//   entry NAME FLAGS PACK PACKHIGH UNP UNPHIGH HOST CRC VER METHOD ATTR TIME
//                          one entry (CRC and TIME in hexadecimal)
//   end CODE               RARReadHeaderEx's code after the entries (default 10)
//   process CODE           RARProcessFile's answer (default 0)
//   close CODE             RARCloseArchive's answer (default 0)

#include "libunrar/UnrarInterface.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#define SCRIPTED_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct ScriptEntry {
    std::string name;
    unsigned flags = 0, pack = 0, packHigh = 0, unp = 0, unpHigh = 0, host = 0, crc = 0, ver = 0,
             method = 0, attr = 0, time = 0;
};

struct Script {
    int version = 8;
    bool openFail = false;
    unsigned flags = 0;
    bool hasComment = false;
    unsigned commentState = 0;
    std::string commentText;
    bool password = false;
    unsigned passwordSize = 128;
    std::string volume, notify;
    long data = 0;
    std::vector<ScriptEntry> entries;
    int end = ERAR_END_ARCHIVE, process = 0, close = 0;
};

Script Load() {
    Script s;
    const char* path = std::getenv("TAVILON_SCRIPTED_UNRAR");
    if (path == nullptr)
        return s;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream l(line);
        std::string key;
        l >> key;
        if (key == "version") {
            l >> s.version;
        } else if (key == "openfail") {
            s.openFail = true;
        } else if (key == "flags") {
            l >> s.flags;
        } else if (key == "comment") {
            s.hasComment = true;
            l >> s.commentState;
            std::getline(l >> std::ws, s.commentText);
        } else if (key == "password") {
            s.password = true;
            l >> s.passwordSize;
        } else if (key == "volume") {
            l >> s.volume;
        } else if (key == "notify") {
            l >> s.notify;
        } else if (key == "data") {
            l >> s.data;
        } else if (key == "entry") {
            ScriptEntry e;
            l >> e.name >> e.flags >> e.pack >> e.packHigh >> e.unp >> e.unpHigh >> e.host >>
                std::hex >> e.crc >> std::dec >> e.ver >> e.method >> e.attr >> std::hex >> e.time;
            s.entries.push_back(e);
        } else if (key == "end") {
            l >> s.end;
        } else if (key == "process") {
            l >> s.process;
        } else if (key == "close") {
            l >> s.close;
        }
    }
    return s;
}

void Log(const std::string& text) {
    const char* path = std::getenv("TAVILON_SCRIPTED_UNRAR_LOG");
    if (path == nullptr)
        return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", text.c_str());
        std::fclose(f);
    }
}

struct Handle {
    Script script;
    std::size_t next = 0;
    bool asked = false;
    bool volumeDone = false;
    UNRARCALLBACK callback = nullptr;
    RAR_LPARAM userData = 0;
    int Call(unsigned msg, RAR_LPARAM p1, RAR_LPARAM p2) {
        return callback != nullptr ? callback(msg, userData, p1, p2) : 0;
    }
};

std::string Narrow(const wchar_t* w) {
    std::string out;
    for (; w != nullptr && *w != L'\0'; ++w)
        out.push_back(static_cast<char>(*w < 0x80 ? *w : '?'));
    return out;
}

template <std::size_t N> void SetWide(wchar_t (&out)[N], const std::string& s) {
    std::size_t i = 0;
    for (; i < s.size() && i + 1 < N; ++i)
        out[i] = static_cast<unsigned char>(s[i]);
    out[i] = L'\0';
}

} // namespace

SCRIPTED_EXPORT void* RAROpenArchiveEx(RAROpenArchiveDataEx* d) {
    auto* h = new Handle;
    h->script = Load();
    Log("open mode=" + std::to_string(d->OpenMode) + " name=" + Narrow(d->ArcNameW) + " narrow=" +
        (d->ArcName != nullptr ? "set" : "none") + " cmtbufsize=" + std::to_string(d->CmtBufSize));
    if (h->script.openFail) {
        d->OpenResult = ERAR_EOPEN;
        delete h;
        return nullptr;
    }
    d->OpenResult = 0;
    d->Flags = h->script.flags;
    d->CmtState = h->script.hasComment ? h->script.commentState : 0;
    if (h->script.hasComment && d->CmtBuf != nullptr && d->CmtBufSize > 0) {
        std::snprintf(d->CmtBuf, d->CmtBufSize, "%s", h->script.commentText.c_str());
        d->CmtSize = static_cast<unsigned>(h->script.commentText.size() + 1);
    }
    return h;
}

SCRIPTED_EXPORT void* RAROpenArchive(RAROpenArchiveData*) {
    return nullptr;
}

SCRIPTED_EXPORT int RARCloseArchive(void* handle) {
    auto* h = static_cast<Handle*>(handle);
    const int code = h->script.close;
    Log("close");
    delete h;
    return code;
}

#ifndef SCRIPTED_WITHOUT_READ
SCRIPTED_EXPORT int RARReadHeaderEx(void* handle, RARHeaderDataEx* d) {
    auto* h = static_cast<Handle*>(handle);
    if (h->script.password && !h->asked) {
        h->asked = true;
        std::vector<char> buf(h->script.passwordSize, 'x');
        const int r = h->Call(UCM_NEEDPASSWORD, reinterpret_cast<RAR_LPARAM>(buf.data()),
                              h->script.passwordSize);
        std::string got(buf.data(), strnlen(buf.data(), buf.size()));
        const bool terminated = std::memchr(buf.data(), 0, buf.size()) != nullptr;
        Log("password result=" + std::to_string(r) + " text=" + got +
            (terminated ? "" : " unterminated"));
        if (r == -1)
            return ERAR_MISSING_PASSWORD;
    }
    if (h->next >= h->script.entries.size())
        return h->script.end;
    const ScriptEntry& e = h->script.entries[h->next++];
    SetWide(d->FileNameW, e.name);
    std::snprintf(d->FileName, sizeof d->FileName, "%s", e.name.c_str());
    d->Flags = e.flags;
    d->PackSize = e.pack;
    d->PackSizeHigh = e.packHigh;
    d->UnpSize = e.unp;
    d->UnpSizeHigh = e.unpHigh;
    d->HostOS = e.host;
    d->FileCRC = e.crc;
    d->FileTime = e.time;
    d->UnpVer = e.ver;
    d->Method = e.method;
    d->FileAttr = e.attr;
    d->CmtSize = 0;
    d->CmtState = 0;
    Log("read " + e.name + " cmtbuf=" + (d->CmtBuf != nullptr ? "set" : "none"));
    return 0;
}
#endif

SCRIPTED_EXPORT int RARReadHeader(void*, RARHeaderData*) {
    return ERAR_UNKNOWN;
}

SCRIPTED_EXPORT int RARProcessFile(void* handle, int operation, char* path, char* name) {
    auto* h = static_cast<Handle*>(handle);
    Log("process op=" + std::to_string(operation) + " path=" + (path ? "set" : "none") +
        " name=" + (name ? "set" : "none"));
    if (!h->volumeDone && (!h->script.volume.empty() || !h->script.notify.empty())) {
        h->volumeDone = true;
        const bool ask = !h->script.volume.empty();
        char buf[1024];
        std::snprintf(buf, sizeof buf, "%s", (ask ? h->script.volume : h->script.notify).c_str());
        const int r = h->Call(UCM_CHANGEVOLUME, reinterpret_cast<RAR_LPARAM>(buf),
                              ask ? RAR_VOL_ASK : RAR_VOL_NOTIFY);
        Log(std::string(ask ? "volume" : "notify") + " result=" + std::to_string(r) +
            " name=" + buf);
        if (r == -1)
            return ERAR_EOPEN;
    }
    if (h->script.data > 0) {
        std::vector<unsigned char> bytes(static_cast<std::size_t>(h->script.data), 0);
        const int r =
            h->Call(UCM_PROCESSDATA, reinterpret_cast<RAR_LPARAM>(bytes.data()), h->script.data);
        Log("data result=" + std::to_string(r));
    }
    return h->script.process;
}

SCRIPTED_EXPORT void RARSetCallback(void* handle, UNRARCALLBACK callback, RAR_LPARAM userData) {
    auto* h = static_cast<Handle*>(handle);
    h->callback = callback;
    h->userData = userData;
    Log("callback");
}

SCRIPTED_EXPORT void RARSetChangeVolProc(void*, CHANGEVOLPROC) {}
SCRIPTED_EXPORT void RARSetProcessDataProc(void*, PROCESSDATAPROC) {}

SCRIPTED_EXPORT void RARSetPassword(void*, char* password) {
    Log(std::string("setpassword ") + (password ? password : ""));
}

#ifndef SCRIPTED_WITHOUT_VERSION
SCRIPTED_EXPORT int RARGetDllVersion() {
    const int v = Load().version;
    Log("version");
    return v;
}
#endif
