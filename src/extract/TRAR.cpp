#include "extract/TRAR.h"

#include "extract/RARLibrary.h"

#include <QDate>
#include <QTime>
#include <cstring>
#include <cwchar>

namespace {

// The archive comment buffer handed to the library.
constexpr unsigned int kCommentBufferSize = 65536;
// The name buffer of a volume-change request (bytes including the terminating zero); the
// library's own buffer is at least this large.
constexpr std::size_t kVolumeNameBufferSize = 1024;
// The code reported when the library is missing or the archive cannot be opened.
constexpr qint32 kErrorNoLibrary = 99;
// The window of a file entry: 64 KiB shifted by the flags' dictionary bits.
constexpr qint64 kBaseDictionarySize = 65536;

constexpr unsigned int kSplitBefore = 0x01, kSplitAfter = 0x02, kEncrypted = 0x04,
                       kSolidEntry = 0x10, kDictionaryMask = 0xE0;
constexpr unsigned int kDirectoryAttribute = 0x10;

QString HostText(unsigned int host) {
    switch (host) {
    case 0:
        return QStringLiteral("DOS");
    case 1:
        return QStringLiteral("IBM OS/2");
    case 2:
        return QStringLiteral("Windows");
    case 3:
        return QStringLiteral("Unix");
    default:
        return QStringLiteral("unknown");
    }
}

QDateTime DosDateTime(unsigned int value) {
    const unsigned int date = value >> 16, time = value & 0xFFFF;
    QDate d(1980 + static_cast<int>(date >> 9), static_cast<int>((date >> 5) & 0x0F),
            static_cast<int>(date & 0x1F));
    QTime t(static_cast<int>(time >> 11), static_cast<int>((time >> 5) & 0x3F),
            static_cast<int>((time & 0x1F) * 2));
    return QDateTime(d, t);
}

QString WideText(const wchar_t* text, std::size_t capacity) {
    return QString::fromWCharArray(text, static_cast<qsizetype>(wcsnlen(text, capacity)));
}

// Copies `text` into a library buffer of `size` bytes, zero-terminated, not cutting a UTF-8
// sequence.
void CopyToBuffer(char* buffer, std::size_t size, const QByteArray& text) {
    if (buffer == nullptr || size == 0)
        return;
    std::size_t n = std::min(static_cast<std::size_t>(text.size()), size - 1);
    while (n > 0 && n < static_cast<std::size_t>(text.size()) &&
           (static_cast<unsigned char>(text[static_cast<qsizetype>(n)]) & 0xC0) == 0x80)
        --n;
    std::memcpy(buffer, text.constData(), n);
    buffer[n] = '\0';
}

} // namespace

TRAR::TRAR(QObject* owner)
    : QObject(owner), ArchiveInformation_(std::make_unique<TRARArchiveInformation>()),
      archiveData_(std::make_unique<RAROpenArchiveDataEx>()),
      headerData_(std::make_unique<RARHeaderDataEx>()), commentBuffer_(kCommentBufferSize),
      self_(this) {
    std::memset(archiveData_.get(), 0, sizeof *archiveData_);
    std::memset(headerData_.get(), 0, sizeof *headerData_);
}

TRAR::~TRAR() {
    ArchiveInformation_.reset();
    UnloadRARLibrary();
}

QString TRAR::GetVersion() const {
    return QStringLiteral("1.1 stable");
}

bool TRAR::OpenFile(const QString& FileName) {
    ArchiveInformation_->Reset();
    handlerError_ = nullptr;
    if (!IsRARLibraryLoaded())
        LoadRARLibrary();
    if (!IsRARLibraryLoaded()) {
        ReportError(kErrorNoLibrary, roInitArchive);
        return false;
    }
    ArchiveInformation_->FileName_ = FileName;
    const bool result = List();
    ArchiveInformation_->Opened_ = true;
    if (handlerError_) {
        std::exception_ptr error = handlerError_;
        handlerError_ = nullptr;
        std::rethrow_exception(error);
    }
    return result;
}

bool TRAR::List() {
    abort_ = false;
    bool ok = OpenArchive(false);
    if (handle_ == nullptr)
        return ok;
    if (abort_ || !ok) {
        CloseArchive();
        return ok && !abort_ ? ok : false;
    }
    const TRARFunctions& f = RARFunctions();
    if (f.RARSetCallback != nullptr)
        f.RARSetCallback(handle_, &TRAR::RARCallback, reinterpret_cast<RAR_LPARAM>(self_));
    if (!password_.isEmpty() && f.RARSetPassword != nullptr) {
        QByteArray pw = password_.toLocal8Bit();
        f.RARSetPassword(handle_, pw.data());
    }
    int r = 0;
    while (ok && r == 0) {
        r = f.RARReadHeaderEx(handle_, headerData_.get());
        if (r == ERAR_END_ARCHIVE)
            break;
        if (r != 0) {
            ok = false;
            ReportError(r, roListFiles);
            break;
        }
        ReportError(0, roListFiles);
        ProcessHeader();
        r = f.RARProcessFile(handle_, RAR_SKIP, nullptr, nullptr);
        if (r != 0)
            ok = false;
        ReportError(r, roListFiles);
    }
    CloseArchive();
    return ok;
}

bool TRAR::OpenArchive(bool forExtraction) {
    const TRARFunctions& f = RARFunctions();
    handle_ = nullptr;
    // A library that lacks one of the calls the listing needs cannot be used.
    if (f.RAROpenArchiveEx == nullptr || f.RARReadHeaderEx == nullptr ||
        f.RARProcessFile == nullptr || f.RARCloseArchive == nullptr) {
        ReportError(kErrorNoLibrary, roInitArchive);
        return false;
    }
    RAROpenArchiveDataEx& d = *archiveData_;
    std::memset(&d, 0, sizeof d);
    d.OpenMode = forExtraction           ? RAR_OM_EXTRACT
                 : ReadMultiVolumeToEnd_ ? RAR_OM_LIST_INCSPLIT
                                         : RAR_OM_LIST;
    const std::wstring name = ArchiveInformation_->FileName_.toStdWString();
    archiveNameW_.assign(name.begin(), name.end());
    archiveNameW_.push_back(L'\0');
    d.ArcName = nullptr;
    d.ArcNameW = archiveNameW_.data();
    d.OpenResult = 0;
    std::fill(commentBuffer_.begin(), commentBuffer_.end(), '\0');
    d.CmtBuf = commentBuffer_.data();
    d.CmtBufSize = kCommentBufferSize;
    d.CmtState = 0;

    handle_ = f.RAROpenArchiveEx(&d);
    if (handle_ == nullptr) {
        ReportError(kErrorNoLibrary, roInitArchive);
        return false;
    }
    TRARArchiveInformation& a = *ArchiveInformation_;
    if (d.Flags & ROADF_LOCK)
        a.Locked_ = true;
    if (d.Flags & ROADF_SIGNED)
        a.Signed_ = true;
    if (d.Flags & ROADF_RECOVERY)
        a.Recovery_ = true;
    if (d.Flags & ROADF_SOLID)
        a.Solid_ = true;
    if (d.Flags & ROADF_COMMENT)
        a.ArchiveComment_ = true;
    if (d.Flags & ROADF_ENCHEADERS)
        a.HeaderEncrypted_ = true;
    a.SFX_ = IsExecutableFile(a.FileName_);
    switch (d.CmtState) {
    case 0:
        a.Comment_.clear();
        a.ArchiveComment_ = false;
        break;
    case 1: {
        // The library's comment size counts the terminating zero; never read past the buffer.
        const std::size_t n = strnlen(commentBuffer_.data(), commentBuffer_.size());
        a.Comment_ = QString::fromLocal8Bit(commentBuffer_.data(), static_cast<qsizetype>(n));
        a.ArchiveComment_ = true;
        break;
    }
    case ERAR_NO_MEMORY:
    case ERAR_BAD_DATA:
    case ERAR_UNKNOWN_FORMAT:
    case ERAR_SMALL_BUF:
        ReportError(static_cast<qint32>(d.CmtState), roInitArchive);
        break;
    default:
        break;
    }
    return d.CmtState == 0 || d.CmtState == 1;
}

void TRAR::ProcessHeader() {
    const RARHeaderDataEx& h = *headerData_;
    TRARArchiveInformation& a = *ArchiveInformation_;
    const unsigned int F = h.Flags;
    quint64 P = (static_cast<quint64>(h.PackSizeHigh) << 32) | h.PackSize;
    const quint64 unpacked = (static_cast<quint64>(h.UnpSizeHigh) << 32) | h.UnpSize;
    const bool M = ReadMultiVolumeToEnd_;
    if (M && (F & kSplitAfter) && !(F & kSplitBefore))
        splitPackedSize_ = P;
    if (M && (F & kSplitAfter) && (F & kSplitBefore)) {
        splitPackedSize_ += P;
        return;
    }
    if (M && (F & kSplitBefore) && !(F & kSplitAfter))
        P += splitPackedSize_;
    if (M && (F & kSplitAfter))
        return;

    const unsigned int V = h.UnpVer;
    if (a.ArchiverMajorVersion_ * 10 + a.ArchiverMinorVersion_ < V) {
        a.ArchiverMinorVersion_ = V % 10;
        a.ArchiverMajorVersion_ = (V - V % 10) / 10;
    }
    if (F & kEncrypted)
        a.Encryption_ = true;
    if (F & kSolidEntry)
        a.Solid_ = true;
    const QString host = HostText(h.HostOS);
    a.HostOS_ = host;
    const bool directory =
        (F & kDictionaryMask) == kDictionaryMask || h.FileAttr == kDirectoryAttribute;
    if (!directory) {
        a.TotalFiles_ += 1;
        a.DictionarySize_ = kBaseDictionarySize << ((F & kDictionaryMask) >> 5);
    }
    a.CompressedSize_ += static_cast<qint64>(P);
    a.UnCompressedSize_ += static_cast<qint64>(unpacked);
    if (F & (kSplitBefore | kSplitAfter))
        a.MultiVolume_ = true;
    if (h.CmtSize > 0)
        a.FileComment_ = true;

    TRARFileItem item;
    item.FileName = WideText(h.FileNameW, std::size(h.FileNameW));
    item.CompressedSize = P;
    item.UnCompressedSize = unpacked;
    item.HostOS = host;
    item.CRC32 = QString::number(h.FileCRC, 16).toUpper();
    item.Attributes = h.FileAttr;
    if (h.CmtBuf != nullptr && h.CmtBufSize > 0)
        item.Comment = QString::fromLocal8Bit(
            h.CmtBuf, static_cast<qsizetype>(strnlen(h.CmtBuf, h.CmtBufSize)));
    item.Time = DosDateTime(h.FileTime);
    item.CompressionMethod = h.Method;
    item.UnpackVersion = h.UnpVer;
    item.Encrypted = F & kEncrypted;
    if (OnListFile)
        OnListFile(this, item);
}

void TRAR::CloseArchive() {
    if (handle_ == nullptr)
        return;
    const int r = RARFunctions().RARCloseArchive(handle_);
    handle_ = nullptr;
    if (r == ERAR_ECLOSE)
        ReportError(r, roInitArchive);
}

void TRAR::ReportError(qint32 code, TRAROperation operation) {
    switch (code) {
    case 11:
    case 12:
    case 14:
    case 15:
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
    case kErrorNoLibrary:
        abort_ = true;
        break;
    default:
        break;
    }
    if (OnError)
        OnError(this, code, operation);
}

int TRAR::RARCallback(unsigned int msg, RAR_LPARAM userData, RAR_LPARAM p1, RAR_LPARAM p2) {
    auto* self = reinterpret_cast<TRAR*>(userData);
    if (self == nullptr)
        return -1;
    try {
        return self->HandleCallback(msg, p1, p2);
    } catch (...) {
        // Nothing may unwind through the library: keep the error for OpenFile.
        if (!self->handlerError_)
            self->handlerError_ = std::current_exception();
        self->abort_ = true;
        return -1;
    }
}

int TRAR::HandleCallback(unsigned int msg, RAR_LPARAM p1, RAR_LPARAM p2) {
    TRARArchiveInformation& a = *ArchiveInformation_;
    int result = 0;
    switch (msg) {
    case UCM_CHANGEVOLUME:
        if (p2 == RAR_VOL_ASK) {
            if (!a.Opened_ && !ReadMultiVolumeToEnd_) {
                result = -1;
            } else {
                char* name = reinterpret_cast<char*>(p1);
                const QString required =
                    name != nullptr
                        ? QString::fromLocal8Bit(
                              name, static_cast<qsizetype>(strnlen(name, kVolumeNameBufferSize)))
                        : QString();
                QString newName;
                bool cancel = false;
                if (OnNextVolumeRequired)
                    OnNextVolumeRequired(this, required, newName, cancel);
                CopyToBuffer(name, kVolumeNameBufferSize, newName.toLocal8Bit());
                result = abort_ || cancel ? -1 : 0;
            }
        }
        break;
    case UCM_PROCESSDATA: {
        const quint64 size = p2 > 0 ? static_cast<quint64>(p2) : 0;
        fileBytesDone_ += size;
        archiveBytesDone_ += size;
        if (OnProgress)
            OnProgress(this, processedFileName_, static_cast<quint64>(a.UnCompressedSize_),
                       archiveBytesDone_, processedFileSize_, fileBytesDone_);
        result = abort_ ? -1 : 0;
        break;
    }
    case UCM_NEEDPASSWORD: {
        QString name;
        if (!a.Opened_) {
            a.HeaderEncrypted_ = true;
            name = a.FileName_;
        } else {
            name = WideText(headerData_->FileNameW, std::size(headerData_->FileNameW));
        }
        QString newPassword;
        bool cancel = false;
        if (OnPasswordRequired)
            OnPasswordRequired(this, !a.Opened_, name, newPassword, cancel);
        if (p2 > 0)
            CopyToBuffer(reinterpret_cast<char*>(p1), static_cast<std::size_t>(p2),
                         newPassword.toLocal8Bit());
        result = abort_ || cancel ? -1 : 0;
        break;
    }
    default:
        break;
    }
    if (abort_)
        result = -1;
    return result;
}
