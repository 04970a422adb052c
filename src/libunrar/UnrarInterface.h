#pragma once

// The C interface of the RAR listing library (libunrar.so here), written after the RAR
// maker's published documentation of its DLL: the same records, open modes, result codes,
// callback messages and entry points, so that a caller works with either library.
//
// Linux specifics: wide strings are wchar_t (32-bit, UTF-32); LPARAM is `long`; there is no
// calling-convention decoration.

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

// Result codes.
enum {
    ERAR_SUCCESS = 0,
    ERAR_END_ARCHIVE = 10,
    ERAR_NO_MEMORY = 11,
    ERAR_BAD_DATA = 12,
    ERAR_BAD_ARCHIVE = 13,
    ERAR_UNKNOWN_FORMAT = 14,
    ERAR_EOPEN = 15,
    ERAR_ECREATE = 16,
    ERAR_ECLOSE = 17,
    ERAR_EREAD = 18,
    ERAR_EWRITE = 19,
    ERAR_SMALL_BUF = 20,
    ERAR_UNKNOWN = 21,
    ERAR_MISSING_PASSWORD = 22,
    ERAR_EREFERENCE = 23,
    ERAR_BAD_PASSWORD = 24,
};

// Open modes.
enum { RAR_OM_LIST = 0, RAR_OM_EXTRACT = 1, RAR_OM_LIST_INCSPLIT = 2 };

// RARProcessFile operations.
enum { RAR_SKIP = 0, RAR_TEST = 1, RAR_EXTRACT = 2 };

// The mode of a volume change (P2 of UCM_CHANGEVOLUME, Mode of CHANGEVOLPROC).
enum { RAR_VOL_ASK = 0, RAR_VOL_NOTIFY = 1 };

// Callback messages.
enum {
    UCM_CHANGEVOLUME = 0,
    UCM_PROCESSDATA = 1,
    UCM_NEEDPASSWORD = 2,
    UCM_CHANGEVOLUMEW = 3,
    UCM_NEEDPASSWORDW = 4,
};

// Entry flags of the header records.
enum {
    RHDF_SPLITBEFORE = 0x01,
    RHDF_SPLITAFTER = 0x02,
    RHDF_ENCRYPTED = 0x04,
    RHDF_SOLID = 0x10,
    RHDF_DIRECTORY = 0x20,
};

// Archive flags of the open record.
enum {
    ROADF_VOLUME = 0x0001,
    ROADF_COMMENT = 0x0002,
    ROADF_LOCK = 0x0004,
    ROADF_SOLID = 0x0008,
    ROADF_NEWNUMBERING = 0x0010,
    ROADF_SIGNED = 0x0020,
    ROADF_RECOVERY = 0x0040,
    ROADF_ENCHEADERS = 0x0080,
    ROADF_FIRSTVOLUME = 0x0100,
};

// Hash types of RARHeaderDataEx.
enum { RAR_HASH_NONE = 0, RAR_HASH_CRC32 = 1, RAR_HASH_BLAKE2 = 2 };

// The interface version this library reports.
#define TAVILON_UNRAR_DLL_VERSION 8

typedef long RAR_LPARAM;
typedef int (*UNRARCALLBACK)(unsigned int msg, RAR_LPARAM UserData, RAR_LPARAM P1, RAR_LPARAM P2);
typedef int (*CHANGEVOLPROC)(char* ArcName, int Mode);
typedef int (*PROCESSDATAPROC)(unsigned char* Addr, int Size);

struct RARHeaderData {
    char ArcName[260];
    char FileName[260];
    unsigned int Flags;
    unsigned int PackSize;
    unsigned int UnpSize;
    unsigned int HostOS;
    unsigned int FileCRC;
    unsigned int FileTime;
    unsigned int UnpVer;
    unsigned int Method;
    unsigned int FileAttr;
    char* CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
};

struct RARHeaderDataEx {
    char ArcName[1024];
    wchar_t ArcNameW[1024];
    char FileName[1024];
    wchar_t FileNameW[1024];
    unsigned int Flags;
    unsigned int PackSize;
    unsigned int PackSizeHigh;
    unsigned int UnpSize;
    unsigned int UnpSizeHigh;
    unsigned int HostOS;
    unsigned int FileCRC;
    unsigned int FileTime;
    unsigned int UnpVer;
    unsigned int Method;
    unsigned int FileAttr;
    char* CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
    unsigned int DictSize; // kilobytes
    unsigned int HashType;
    char Hash[32];
    unsigned int RedirType;
    wchar_t* RedirName;
    unsigned int RedirNameSize;
    unsigned int DirTarget;
    unsigned int Reserved[994];
};

struct RAROpenArchiveData {
    char* ArcName;
    unsigned int OpenMode;
    unsigned int OpenResult;
    char* CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
};

struct RAROpenArchiveDataEx {
    char* ArcName;
    wchar_t* ArcNameW;
    unsigned int OpenMode;
    unsigned int OpenResult;
    char* CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
    unsigned int Flags;
    UNRARCALLBACK Callback;
    RAR_LPARAM UserData;
    unsigned int Reserved[28];
};

// The entry points, by export name.
void* RAROpenArchive(struct RAROpenArchiveData* ArchiveData);
void* RAROpenArchiveEx(struct RAROpenArchiveDataEx* ArchiveData);
int RARCloseArchive(void* hArcData);
int RARReadHeader(void* hArcData, struct RARHeaderData* HeaderData);
int RARReadHeaderEx(void* hArcData, struct RARHeaderDataEx* HeaderData);
int RARProcessFile(void* hArcData, int Operation, char* DestPath, char* DestName);
void RARSetCallback(void* hArcData, UNRARCALLBACK Callback, RAR_LPARAM UserData);
void RARSetChangeVolProc(void* hArcData, CHANGEVOLPROC ChangeVolProc);
void RARSetProcessDataProc(void* hArcData, PROCESSDATAPROC ProcessDataProc);
void RARSetPassword(void* hArcData, char* Password);
int RARGetDllVersion(void);

// Pointer types of the entry points, for run-time lookup.
typedef void* (*RAROpenArchive_t)(struct RAROpenArchiveData*);
typedef void* (*RAROpenArchiveEx_t)(struct RAROpenArchiveDataEx*);
typedef int (*RARCloseArchive_t)(void*);
typedef int (*RARReadHeader_t)(void*, struct RARHeaderData*);
typedef int (*RARReadHeaderEx_t)(void*, struct RARHeaderDataEx*);
typedef int (*RARProcessFile_t)(void*, int, char*, char*);
typedef void (*RARSetCallback_t)(void*, UNRARCALLBACK, RAR_LPARAM);
typedef void (*RARSetChangeVolProc_t)(void*, CHANGEVOLPROC);
typedef void (*RARSetProcessDataProc_t)(void*, PROCESSDATAPROC);
typedef void (*RARSetPassword_t)(void*, char*);
typedef int (*RARGetDllVersion_t)(void);

#ifdef __cplusplus
}
#endif
