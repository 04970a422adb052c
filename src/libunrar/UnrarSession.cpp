#include "libunrar/UnrarSession.h"

#include "rar/RarHash.h"
#include "rar/RarText.h"
#include "rar/VolumeNaming.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace unrar {

namespace {

// Name buffers handed to the callbacks (characters, including the terminating zero).
constexpr std::size_t kNameBufferSize = 1024;
// Password buffers handed to the callbacks.
constexpr std::size_t kPasswordBufferSize = 128;
// Stored data is read, checked and written in pieces of this size (a multiple of 16).
constexpr std::size_t kDataChunk = 256 * 1024;

template <std::size_t N> void CopyNarrow(char (&out)[N], const std::string& s) {
    std::size_t n = std::min(s.size(), N - 1);
    // Do not cut a UTF-8 sequence in half.
    while (n > 0 && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(out, s.data(), n);
    out[n] = '\0';
}

template <std::size_t N> void CopyWide(wchar_t (&out)[N], const std::string& s) {
    std::u32string w = rar::Utf8ToUtf32(s);
    std::size_t n = std::min(w.size(), N - 1);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<wchar_t>(w[i]);
    out[n] = L'\0';
}

std::string NarrowToUtf8(const char* s) {
    return rar::Legacy8BitToUtf8(s, false);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// An entry name that stays below the destination folder.
bool SafeRelativeName(const std::string& name) {
    if (name.empty() || name[0] == '/')
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        if (name.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

bool MakeParents(const std::string& path) {
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/')
            continue;
        std::string dir = path.substr(0, i);
        if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

int UnrarSession::Callback(unsigned int msg, RAR_LPARAM p1, RAR_LPARAM p2) {
    if (callback_ == nullptr)
        return 0;
    return callback_(msg, userData_, p1, p2);
}

void UnrarSession::SetPassword(const std::string& password) {
    password_ = password;
    passwordSet_ = !password.empty();
    if (reader_)
        reader_->SetPassword(password_);
}

bool UnrarSession::AskPassword() {
    wchar_t wide[kPasswordBufferSize] = {};
    int r = Callback(UCM_NEEDPASSWORDW, reinterpret_cast<RAR_LPARAM>(wide), kPasswordBufferSize);
    wide[kPasswordBufferSize - 1] = L'\0';
    if (r != -1 && wide[0] != L'\0') {
        std::u32string w;
        for (const wchar_t* p = wide; *p != L'\0'; ++p)
            w.push_back(static_cast<char32_t>(*p));
        SetPassword(rar::Utf32ToUtf8(w));
        return true;
    }
    char narrow[kPasswordBufferSize] = {};
    r = Callback(UCM_NEEDPASSWORD, reinterpret_cast<RAR_LPARAM>(narrow), kPasswordBufferSize);
    narrow[kPasswordBufferSize - 1] = '\0';
    if (r == -1 || narrow[0] == '\0')
        return false;
    SetPassword(NarrowToUtf8(narrow));
    return true;
}

int UnrarSession::StatusCode(rar::Status status) const {
    switch (status) {
    case rar::Status::Ok:
        return ERAR_SUCCESS;
    case rar::Status::EndOfArchive:
        return ERAR_END_ARCHIVE;
    case rar::Status::NotRar:
        return ERAR_BAD_ARCHIVE;
    case rar::Status::NeedMore:
    case rar::Status::Damaged:
        return ERAR_BAD_DATA;
    case rar::Status::PasswordRequired:
        return ERAR_MISSING_PASSWORD;
    case rar::Status::BadPassword:
        return ERAR_BAD_PASSWORD;
    case rar::Status::Unsupported:
        return ERAR_UNKNOWN_FORMAT;
    }
    return ERAR_UNKNOWN;
}

int UnrarSession::OpenVolume(const std::string& path, bool first) {
    auto source = std::make_unique<rar::FileSource>();
    if (!source->Open(path))
        return ERAR_EOPEN;
    auto reader = std::make_unique<rar::VolumeReader>(*source);
    reader->SetPassword(password_);
    rar::Status s = reader->ReadArchiveHeader();
    if (s == rar::Status::PasswordRequired && first && callback_ == nullptr) {
        firstArchive_ = reader->Archive();
        firstArchive_.headersEncrypted = true;
        source_ = std::move(source);
        reader_ = std::move(reader);
        volumePath_ = path;
        passwordPending_ = true;
        return ERAR_SUCCESS;
    }
    if (s == rar::Status::PasswordRequired) {
        if (!AskPassword())
            return ERAR_MISSING_PASSWORD;
        reader->SetPassword(password_);
        s = reader->ReadArchiveHeader();
    }
    // A complete file that still "needs more": without a marker it is no archive at all,
    // after one it is cut short.
    if (s == rar::Status::NeedMore)
        return reader->Position() == 0 ? ERAR_BAD_ARCHIVE : ERAR_BAD_DATA;
    if (s != rar::Status::Ok)
        return StatusCode(s);
    if (first)
        firstArchive_ = reader->Archive();
    else if (reader->Archive().format != firstArchive_.format)
        return ERAR_BAD_ARCHIVE;
    source_ = std::move(source);
    reader_ = std::move(reader);
    volumePath_ = path;
    return ERAR_SUCCESS;
}

bool UnrarSession::Open(const std::string& path, unsigned int mode, UNRARCALLBACK callback,
                        RAR_LPARAM userData, int& result) {
    firstPath_ = path;
    mode_ = mode <= static_cast<unsigned int>(RAR_OM_LIST_INCSPLIT)
                ? mode
                : static_cast<unsigned int>(RAR_OM_LIST);
    callback_ = callback;
    userData_ = userData;
    result = OpenVolume(path, true);
    return result == ERAR_SUCCESS;
}

int UnrarSession::ChangeVolume() {
    const bool newNaming = firstArchive_.newNaming || firstArchive_.format == rar::Format::Rar5;
    std::string next = rar::NextVolumeName(volumePath_, newNaming);
    wchar_t wide[kNameBufferSize];
    char narrow[kNameBufferSize];
    CopyWide(wide, next);
    CopyNarrow(narrow, next);
    if (FileExists(next)) {
        if (Callback(UCM_CHANGEVOLUMEW, reinterpret_cast<RAR_LPARAM>(wide), RAR_VOL_NOTIFY) == -1 ||
            Callback(UCM_CHANGEVOLUME, reinterpret_cast<RAR_LPARAM>(narrow), RAR_VOL_NOTIFY) == -1)
            return ERAR_EOPEN;
        if (changeVolProc_ != nullptr && changeVolProc_(narrow, RAR_VOL_NOTIFY) == 0)
            return ERAR_EOPEN;
    } else {
        // Ask for the volume: the caller may give another name. One question; a name that
        // still does not exist ends the listing.
        int r = Callback(UCM_CHANGEVOLUMEW, reinterpret_cast<RAR_LPARAM>(wide), RAR_VOL_ASK);
        wide[kNameBufferSize - 1] = L'\0';
        if (r == -1)
            return ERAR_EOPEN;
        std::u32string w;
        for (const wchar_t* p = wide; *p != L'\0'; ++p)
            w.push_back(static_cast<char32_t>(*p));
        std::string answer = rar::Utf32ToUtf8(w);
        if (answer == next) {
            r = Callback(UCM_CHANGEVOLUME, reinterpret_cast<RAR_LPARAM>(narrow), RAR_VOL_ASK);
            narrow[kNameBufferSize - 1] = '\0';
            if (r == -1)
                return ERAR_EOPEN;
            if (changeVolProc_ != nullptr && changeVolProc_(narrow, RAR_VOL_ASK) == 0)
                return ERAR_EOPEN;
            narrow[kNameBufferSize - 1] = '\0';
            answer = NarrowToUtf8(narrow);
        }
        if (answer.empty() || !FileExists(answer))
            return ERAR_EOPEN;
        next = answer;
    }
    int r = OpenVolume(next, false);
    return r == ERAR_SUCCESS ? ERAR_SUCCESS : r;
}

int UnrarSession::SkipCurrent() {
    // Listing and extraction move to the next volume as soon as an entry continues there,
    // so that its later pieces are passed over; with RAR_OM_LIST_INCSPLIT every piece is
    // reported and the volume changes at its end block.
    if (mode_ != RAR_OM_LIST_INCSPLIT && current_.splitAfter)
        return ChangeVolume();
    return ERAR_SUCCESS;
}

// Reads on to the next reportable entry; ERAR_SUCCESS leaves it in current_.
int UnrarSession::NextEntry() {
    if (!reader_)
        return ERAR_BAD_ARCHIVE;
    for (;;) {
        rar::Entry e;
        rar::Status s = reader_->ReadNext(e);
        if (s == rar::Status::Ok) {
            lastSplitAfter_ = e.splitAfter;
            if (e.kind != rar::EntryKind::File)
                continue;
            if (mode_ != RAR_OM_LIST_INCSPLIT && e.splitBefore) {
                current_ = e;
                int r = SkipCurrent();
                if (r != ERAR_SUCCESS)
                    return r;
                continue;
            }
            current_ = std::move(e);
            return ERAR_SUCCESS;
        }
        const bool volumeEnds = (s == rar::Status::EndOfArchive && reader_->NextVolumeExpected()) ||
                                (s == rar::Status::NeedMore && reader_->AtCleanEnd() &&
                                 firstArchive_.isVolume && lastSplitAfter_);
        if (volumeEnds) {
            lastSplitAfter_ = false;
            int r = ChangeVolume();
            if (r != ERAR_SUCCESS)
                return r;
            continue;
        }
        if (s == rar::Status::EndOfArchive || (s == rar::Status::NeedMore && reader_->AtCleanEnd()))
            return ERAR_END_ARCHIVE;
        return StatusCode(s);
    }
}

int UnrarSession::ReadPendingHeaders() {
    if (!passwordSet_ && !AskPassword())
        return ERAR_MISSING_PASSWORD;
    reader_->SetPassword(password_);
    rar::Status s = reader_->ReadArchiveHeader();
    if (s == rar::Status::NeedMore)
        return ERAR_BAD_DATA;
    if (s != rar::Status::Ok)
        return StatusCode(s);
    passwordPending_ = false;
    firstArchive_ = reader_->Archive();
    return ERAR_SUCCESS;
}

int UnrarSession::ReadHeader(RARHeaderDataEx& d) {
    if (passwordPending_) {
        int r = ReadPendingHeaders();
        if (r != ERAR_SUCCESS)
            return r;
    }
    if (haveCurrent_) {
        haveCurrent_ = false;
        int r = SkipCurrent();
        if (r != ERAR_SUCCESS)
            return r;
    }
    int r = NextEntry();
    if (r != ERAR_SUCCESS)
        return r;
    haveCurrent_ = true;
    const rar::Entry& e = current_;
    CopyNarrow(d.ArcName, volumePath_);
    CopyWide(d.ArcNameW, volumePath_);
    CopyNarrow(d.FileName, e.name);
    CopyWide(d.FileNameW, e.name);
    unsigned int flags = e.flags & 0xFF;
    if (e.isDirectory)
        flags |= 0xE0;
    d.Flags = flags;
    d.PackSize = static_cast<unsigned int>(e.packedSize & 0xFFFFFFFFu);
    d.PackSizeHigh = static_cast<unsigned int>(e.packedSize >> 32);
    d.UnpSize = static_cast<unsigned int>(e.unpackedSize & 0xFFFFFFFFu);
    d.UnpSizeHigh = static_cast<unsigned int>(e.unpackedSize >> 32);
    d.HostOS = e.hostOs;
    d.FileCRC = e.crc32;
    d.FileTime = e.dosTime;
    d.UnpVer = e.unpackVersion;
    d.Method = e.method;
    d.FileAttr = e.attributes;
    d.CmtSize = 0;
    d.CmtState = 0;
    d.DictSize =
        static_cast<unsigned int>(std::min<std::uint64_t>(e.dictionarySize / 1024, UINT_MAX));
    d.HashType = e.hasBlake2 ? RAR_HASH_BLAKE2 : e.hasCrc32 ? RAR_HASH_CRC32 : RAR_HASH_NONE;
    std::memset(d.Hash, 0, sizeof d.Hash);
    if (e.hasBlake2)
        std::memcpy(d.Hash, e.blake2.data(), sizeof d.Hash);
    d.RedirType = 0;
    if (d.RedirName != nullptr && d.RedirNameSize > 0)
        d.RedirName[0] = L'\0';
    d.DirTarget = 0;
    return ERAR_SUCCESS;
}

int UnrarSession::ReadHeader(RARHeaderData& d) {
    auto ex = std::make_unique<RARHeaderDataEx>();
    std::memset(ex.get(), 0, sizeof *ex);
    int r = ReadHeader(*ex);
    if (r != ERAR_SUCCESS)
        return r;
    CopyNarrow(d.ArcName, volumePath_);
    CopyNarrow(d.FileName, current_.name);
    d.Flags = ex->Flags;
    d.PackSize = ex->PackSize;
    d.UnpSize = ex->UnpSize;
    d.HostOS = ex->HostOS;
    d.FileCRC = ex->FileCRC;
    d.FileTime = ex->FileTime;
    d.UnpVer = ex->UnpVer;
    d.Method = ex->Method;
    d.FileAttr = ex->FileAttr;
    d.CmtSize = 0;
    d.CmtState = 0;
    return ERAR_SUCCESS;
}

const rar::DataKeys& UnrarSession::KeysFor(const rar::EncryptionParams& p) {
    const bool same = cached_.valid && cached_.password == password_ &&
                      cached_.params.format == p.format && cached_.params.kdfCount == p.kdfCount &&
                      cached_.params.saltSize == p.saltSize && cached_.params.salt == p.salt;
    if (!same) {
        cached_.keys = rar::DeriveKeys(password_, p);
        cached_.params = p;
        cached_.password = password_;
        cached_.valid = true;
    }
    // The IV is the entry's own (RAR 5.0); RAR 4 derives it with the key.
    if (p.format == rar::Format::Rar5)
        cached_.keys.iv = p.iv;
    return cached_.keys;
}

int UnrarSession::ProcessFile(int operation, const char* destPath, const char* destName) {
    if (!haveCurrent_)
        return ERAR_UNKNOWN;
    haveCurrent_ = false;
    if (operation == RAR_SKIP)
        return SkipCurrent();
    if (operation != RAR_TEST && operation != RAR_EXTRACT)
        return ERAR_UNKNOWN;
    if (mode_ == RAR_OM_LIST || mode_ == RAR_OM_LIST_INCSPLIT) {
        // Listing modes only skip (the documented behaviour); a test or extract request in a
        // listing is answered like a skip.
        return SkipCurrent();
    }
    return Extract(operation, destPath, destName);
}

int UnrarSession::Extract(int operation, const char* destPath, const char* destName) {
    const rar::Entry first = current_;
    std::string target;
    if (operation == RAR_EXTRACT) {
        if (destName != nullptr && *destName != '\0') {
            target = destName;
        } else {
            if (!SafeRelativeName(first.name))
                return ERAR_ECREATE;
            std::string dir = destPath != nullptr ? destPath : "";
            if (!dir.empty() && dir.back() != '/')
                dir += '/';
            target = dir + first.name;
        }
    }
    if (first.isDirectory) {
        if (operation == RAR_EXTRACT) {
            if (!MakeParents(target + "/"))
                return ERAR_ECREATE;
        }
        return SkipCurrent();
    }
    if (!first.IsStored() || (first.encrypted && !first.encryption)) {
        int r = SkipCurrent();
        return r == ERAR_SUCCESS ? ERAR_UNKNOWN_FORMAT : r;
    }
    rar::DataKeys keys;
    rar::AesCbc aes;
    if (first.encrypted) {
        if (!passwordSet_ && !AskPassword())
            return ERAR_MISSING_PASSWORD;
        keys = KeysFor(*first.encryption);
        if (!keys.passwordOk)
            return ERAR_BAD_PASSWORD;
        if (!aes.Init(keys.key.data(), keys.keySize, keys.iv.data(), false))
            return ERAR_UNKNOWN;
    }
    int fd = -1;
    if (operation == RAR_EXTRACT && !first.isSymlink) {
        if (!MakeParents(target))
            return ERAR_ECREATE;
        fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return ERAR_ECREATE;
    }
    struct Closer {
        int& fd;
        ~Closer() {
            if (fd >= 0)
                ::close(fd);
        }
    } closer{fd};

    // Encrypted bytes that do not fill a whole AES block wait in front of the next read.
    std::vector<std::uint8_t> buf(kDataChunk + 16);
    std::size_t carry = 0;
    std::uint64_t written = 0;
    std::uint32_t crc = 0;
    rar::Blake2sp blake;
    rar::Entry piece = first;
    for (;;) {
        std::uint32_t pieceCrc = 0;
        rar::Blake2sp pieceBlake;
        std::uint64_t offset = piece.dataOffset, left = piece.packedSize;
        while (left > 0) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kDataChunk));
            if (source_->ReadAt(offset, buf.data() + carry, n) != n)
                return ERAR_BAD_DATA;
            offset += n;
            left -= n;
            if (piece.splitAfter) {
                if (piece.hasBlake2)
                    pieceBlake.Update(buf.data() + carry, n);
                else
                    pieceCrc = rar::Crc32(pieceCrc, buf.data() + carry, n);
            }
            std::size_t plain = carry + n;
            if (first.encrypted) {
                std::size_t whole = plain - plain % 16;
                aes.Process(buf.data(), buf.data(), whole);
                carry = plain - whole;
                plain = whole;
            }
            const std::size_t ready = plain;
            plain = static_cast<std::size_t>(std::min<std::uint64_t>(
                plain, first.unpackedSize - std::min(written, first.unpackedSize)));
            if (plain > 0) {
                crc = rar::Crc32(crc, buf.data(), plain);
                blake.Update(buf.data(), plain);
                if (fd >= 0) {
                    std::size_t done = 0;
                    while (done < plain) {
                        ssize_t w = ::write(fd, buf.data() + done, plain - done);
                        if (w < 0 && errno == EINTR)
                            continue;
                        if (w <= 0)
                            return ERAR_EWRITE;
                        done += static_cast<std::size_t>(w);
                    }
                }
                if (Callback(UCM_PROCESSDATA, reinterpret_cast<RAR_LPARAM>(buf.data()),
                             static_cast<RAR_LPARAM>(plain)) == -1)
                    return ERAR_UNKNOWN;
                if (processDataProc_ != nullptr &&
                    processDataProc_(buf.data(), static_cast<int>(plain)) == 0)
                    return ERAR_UNKNOWN;
                written += plain;
            }
            if (carry > 0)
                std::memmove(buf.data(), buf.data() + ready, carry);
        }
        if (!piece.splitAfter)
            break;
        // A piece that continues: its own checksum covers its stored bytes.
        if (piece.hasBlake2) {
            auto d = pieceBlake.Final();
            if (piece.encryption && piece.encryption->tweakedChecksums)
                d = rar::Rar5MacBlake2(keys.hashKey, d);
            if (d != piece.blake2)
                return ERAR_BAD_DATA;
        } else if (piece.hasCrc32) {
            if (piece.encryption && piece.encryption->tweakedChecksums)
                pieceCrc = rar::Rar5MacCrc32(keys.hashKey, pieceCrc);
            if (pieceCrc != piece.crc32)
                return ERAR_BAD_DATA;
        }
        int r = ChangeVolume();
        if (r != ERAR_SUCCESS)
            return r;
        rar::Status s;
        do {
            s = reader_->ReadNext(piece);
        } while (s == rar::Status::Ok && piece.kind != rar::EntryKind::File);
        if (s != rar::Status::Ok || !piece.splitBefore || piece.name != first.name)
            return ERAR_BAD_DATA;
        current_ = piece;
    }
    if (carry != 0 || (written != first.unpackedSize && !first.unpackedSizeUnknown))
        return ERAR_BAD_DATA;
    const bool tweaked = piece.encryption && piece.encryption->tweakedChecksums;
    if (piece.hasBlake2) {
        auto d = blake.Final();
        if (tweaked)
            d = rar::Rar5MacBlake2(keys.hashKey, d);
        if (d != piece.blake2)
            return ERAR_BAD_DATA;
    } else if (piece.hasCrc32) {
        if (tweaked)
            crc = rar::Rar5MacCrc32(keys.hashKey, crc);
        if (crc != piece.crc32)
            return ERAR_BAD_DATA;
    }
    if (fd >= 0) {
        int r = ::close(fd);
        fd = -1;
        if (r != 0)
            return ERAR_EWRITE;
    }
    return ERAR_SUCCESS;
}

} // namespace unrar
