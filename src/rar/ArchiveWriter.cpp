#include "rar/ArchiveWriter.h"

#include "rar/Rar4Format.h"
#include "rar/Rar5Format.h"
#include "rar/RarCrypto.h"
#include "rar/RarHash.h"
#include "rar/VolumeNaming.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace rar {

namespace {

// Data is copied in pieces of this size (a multiple of the AES block).
constexpr std::size_t kCopyChunk = 1024 * 1024;
static_assert(kCopyChunk % kAesBlockSize == 0);

using Bytes = std::vector<std::uint8_t>;

void PutLe(Bytes& b, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutVInt(Bytes& b, std::uint64_t v) {
    do {
        std::uint8_t byte = v & 0x7F;
        v >>= 7;
        if (v != 0)
            byte |= 0x80;
        b.push_back(byte);
    } while (v != 0);
}

// Fills in the CRC of a header in its first `crcSize` bytes.
void StampHeaderCrc(Bytes& h, std::size_t crcSize) {
    const std::uint32_t crc = HeaderCrc(h.data(), h.size(), crcSize);
    for (std::size_t i = 0; i < crcSize; ++i)
        h[i] = static_cast<std::uint8_t>(crc >> (8 * i));
}

// The encryption fields (Rar5Format.h) of the encryption header or, with `fileRecord`, of a
// file's encryption record, which also carries the IV and the keyed-checksum flag.
void PutRar5Encryption(Bytes& b, const EncryptionParams& p, bool fileRecord) {
    std::uint64_t flags = p.hasPasswordCheck ? rar5::kCryptPasswordCheck : 0;
    if (fileRecord && p.tweakedChecksums)
        flags |= rar5::kCryptTweakedChecksums;
    PutVInt(b, rar5::kCryptAes256);
    PutVInt(b, flags);
    b.push_back(p.kdfCount);
    b.insert(b.end(), p.salt.begin(), p.salt.begin() + rar5::kSaltSize);
    if (fileRecord)
        b.insert(b.end(), p.iv.begin(), p.iv.begin() + rar5::kIvSize);
    if (p.hasPasswordCheck) {
        b.insert(b.end(), p.passwordCheck.begin(), p.passwordCheck.end());
        auto sum = Rar5PasswordCheckSum(p.passwordCheck);
        b.insert(b.end(), sum.begin(), sum.end());
    }
}

struct FileInfo {
    PackInput input;
    std::uint64_t size = 0;
    std::uint64_t streamSize = 0; // bytes stored: the size, padded to 16 when encrypted
    std::uint32_t mode = 0;
    std::time_t mtime = 0;
};

struct Piece {
    std::size_t file = 0;
    std::uint64_t size = 0;
    bool splitBefore = false, splitAfter = false;
};

struct Volume {
    std::vector<Piece> pieces;
};

// What goes into one file header besides the fixed file facts.
struct PieceHeader {
    std::uint64_t dataSize = 0;
    bool splitBefore = false, splitAfter = false;
    std::uint32_t crc = 0;
    std::array<std::uint8_t, 32> blake2{};
    const EncryptionParams* encryption = nullptr;
};

class Writer {
public:
    Writer(const std::vector<PackInput>& inputs, const std::string& outDir,
           const std::string& baseName, const PackOptions& options)
        : outDir_(outDir), baseName_(baseName), opt_(options) {
        if (opt_.format == Format::Rar4)
            opt_.blake2 = false;
        if (opt_.password.empty())
            opt_.encryptHeaders = false;
        if (opt_.volumeSize < kMinVolumeSize)
            throw PackError("volume size too small (at least " + std::to_string(kMinVolumeSize) +
                            " bytes)");
        if (inputs.empty())
            throw PackError("no files to pack");
        for (const PackInput& in : inputs) {
            struct stat st {};
            if (::stat(in.path.c_str(), &st) != 0)
                throw PackError(in.path + ": " + std::strerror(errno));
            if (!S_ISREG(st.st_mode))
                throw PackError(in.path + ": not a regular file");
            if (in.name.empty() || in.name.size() > 0xFFFF - 64)
                throw PackError(in.path + ": bad name in the archive");
            FileInfo f;
            f.input = in;
            f.size = static_cast<std::uint64_t>(st.st_size);
            f.streamSize = encrypted() ? RoundUp16(f.size) : f.size;
            f.mode = st.st_mode & 07777;
            f.mtime = st.st_mtime;
            files_.push_back(f);
        }
        PrepareKeys();
    }

    std::vector<std::string> Run() {
        multi_ = true;
        Plan();
        if (volumes_.size() == 1) {
            multi_ = false;
            Plan();
        }
        const int digits = VolumeDigits(volumes_.size());
        std::vector<std::string> paths;
        std::string dir = outDir_;
        if (!dir.empty() && dir.back() != '/')
            dir += '/';
        for (std::size_t v = 0; v < volumes_.size(); ++v)
            paths.push_back(VolumeName(dir + baseName_, v, digits));
        for (std::size_t v = 0; v < volumes_.size(); ++v)
            WriteVolume(v, paths[v]);
        return paths;
    }

private:
    bool encrypted() const { return !opt_.password.empty(); }
    bool rar5() const { return opt_.format == Format::Rar5; }

    void PrepareKeys() {
        if (!encrypted())
            return;
        if (rar5()) {
            if (opt_.kdfCount > kMaxRar5KdfCount)
                opt_.kdfCount = kMaxRar5KdfCount;
            crypt5_.format = Format::Rar5;
            crypt5_.kdfCount = opt_.kdfCount;
            crypt5_.saltSize = rar5::kSaltSize;
            Random(crypt5_.salt.data(), rar5::kSaltSize);
            keys5_ = DeriveRar5Keys(opt_.password, crypt5_.salt.data(), opt_.kdfCount);
            crypt5_.hasPasswordCheck = true;
            crypt5_.passwordCheck = keys5_.passwordCheck;
            crypt5_.tweakedChecksums = true;
            for (std::size_t i = 0; i < files_.size(); ++i) {
                EncryptionParams p = crypt5_;
                Random(p.iv.data(), rar5::kIvSize);
                p.hasIv = true;
                fileCrypt_.push_back(p);
            }
        } else {
            headerSalt4_.resize(rar4::kSaltSize);
            Random(headerSalt4_.data(), rar4::kSaltSize);
            if (opt_.encryptHeaders)
                headerKey4_ = DeriveRar4Key(opt_.password, headerSalt4_.data());
            for (std::size_t i = 0; i < files_.size(); ++i) {
                EncryptionParams p;
                p.format = Format::Rar4;
                p.saltSize = rar4::kSaltSize;
                Random(p.salt.data(), rar4::kSaltSize);
                fileCrypt_.push_back(p);
            }
        }
    }

    static void Random(std::uint8_t* out, std::size_t n) {
        if (!RandomBytes(out, n))
            throw PackError("no random numbers for the encryption");
    }

    // ---- header bytes ----

    Bytes Rar5Header(const Bytes& body) const {
        Bytes h;
        Bytes size;
        PutVInt(size, body.size());
        PutLe(h, 0, rar5::kCrcSize);
        h.insert(h.end(), size.begin(), size.end());
        h.insert(h.end(), body.begin(), body.end());
        StampHeaderCrc(h, rar5::kCrcSize);
        return h;
    }

    Bytes Rar4Header(std::uint8_t type, std::uint16_t flags, const Bytes& fields) const {
        Bytes h;
        PutLe(h, 0, rar4::kCrcSize);
        h.push_back(type);
        PutLe(h, flags, 2);
        PutLe(h, rar4::kBaseHeaderSize + fields.size(), 2);
        h.insert(h.end(), fields.begin(), fields.end());
        StampHeaderCrc(h, rar4::kCrcSize);
        return h;
    }

    // A header as it lies in the volume: plain, or encrypted with its IV / salt in front.
    Bytes Seal(const Bytes& header) const {
        if (!opt_.encryptHeaders)
            return header;
        Bytes out;
        Bytes padded = header;
        padded.resize(RoundUp16(padded.size()), 0);
        AesCbc aes;
        if (rar5()) {
            std::array<std::uint8_t, rar5::kIvSize> iv{};
            Random(iv.data(), iv.size());
            out.insert(out.end(), iv.begin(), iv.end());
            if (!aes.Init(keys5_.key.data(), kRar5KeySize, iv.data(), true))
                throw PackError("AES is not available");
        } else {
            out.insert(out.end(), headerSalt4_.begin(), headerSalt4_.end());
            if (!aes.Init(headerKey4_.key.data(), kRar4KeySize, headerKey4_.iv.data(), true))
                throw PackError("AES is not available");
        }
        std::size_t at = out.size();
        out.resize(at + padded.size());
        aes.Process(padded.data(), out.data() + at, padded.size());
        return out;
    }

    std::uint64_t SealedSize(std::size_t headerSize) const {
        if (!opt_.encryptHeaders)
            return headerSize;
        return (rar5() ? rar5::kIvSize : rar4::kSaltSize) + RoundUp16(headerSize);
    }

    Bytes Marker() const {
        if (rar5())
            return {rar5::kMarker.begin(), rar5::kMarker.end()};
        return {rar4::kMarker.begin(), rar4::kMarker.end()};
    }

    Bytes CryptHeader() const {
        // RAR 5.0 only: the plain block that announces encrypted headers.
        Bytes body;
        PutVInt(body, rar5::kCryptHeader);
        PutVInt(body, 0); // header flags
        PutRar5Encryption(body, crypt5_, false);
        return Rar5Header(body);
    }

    Bytes MainHeader(std::size_t volume) const {
        if (rar5()) {
            Bytes body;
            PutVInt(body, rar5::kMainHeader);
            PutVInt(body, 0); // header flags
            std::uint64_t flags = 0;
            if (multi_)
                flags |= rar5::kArchiveVolume | (volume > 0 ? rar5::kArchiveVolumeNumber : 0);
            PutVInt(body, flags);
            if (multi_ && volume > 0)
                PutVInt(body, volume);
            return Seal(Rar5Header(body));
        }
        std::uint16_t flags = 0;
        if (multi_)
            flags |= rar4::kMainVolume | rar4::kMainNewNaming |
                     (volume == 0 ? rar4::kMainFirstVolume : 0);
        if (opt_.encryptHeaders)
            flags |= rar4::kMainEncryptedHeaders;
        Bytes fields(rar4::kMainHeaderSize - rar4::kBaseHeaderSize, 0);
        return Rar4Header(rar4::kMainBlock, flags, fields); // the main header itself stays plain
    }

    Bytes EndHeader(bool last) const {
        if (rar5()) {
            Bytes body;
            PutVInt(body, rar5::kEndHeader);
            PutVInt(body, 0); // header flags
            PutVInt(body, last ? 0 : rar5::kEndNextVolume);
            return Seal(Rar5Header(body));
        }
        return Seal(Rar4Header(rar4::kEndBlock, last ? 0 : rar4::kEndNextVolume, {}));
    }

    Bytes FileHeader(const FileInfo& f, const PieceHeader& p) const {
        const bool finalPiece = !p.splitAfter;
        if (rar5()) {
            Bytes extra;
            if (p.encryption != nullptr) {
                Bytes rec;
                PutVInt(rec, rar5::kRecordCrypt);
                PutRar5Encryption(rec, *p.encryption, true);
                PutVInt(extra, rec.size());
                extra.insert(extra.end(), rec.begin(), rec.end());
            }
            if (opt_.blake2) {
                Bytes rec;
                PutVInt(rec, rar5::kRecordHash);
                PutVInt(rec, rar5::kHashBlake2sp);
                rec.insert(rec.end(), p.blake2.begin(), p.blake2.end());
                PutVInt(extra, rec.size());
                extra.insert(extra.end(), rec.begin(), rec.end());
            }
            Bytes body;
            PutVInt(body, rar5::kFileHeader);
            std::uint64_t hflags = rar5::kHeaderData | (extra.empty() ? 0 : rar5::kHeaderExtra) |
                                   (p.splitBefore ? rar5::kHeaderSplitBefore : 0) |
                                   (p.splitAfter ? rar5::kHeaderSplitAfter : 0);
            PutVInt(body, hflags);
            if (!extra.empty())
                PutVInt(body, extra.size());
            PutVInt(body, p.dataSize);
            std::uint64_t fflags = rar5::kFileUnixTime | (opt_.blake2 ? 0 : rar5::kFileCrc32);
            PutVInt(body, fflags);
            PutVInt(body, f.size);
            PutVInt(body, f.mode | S_IFREG);
            PutLe(body, static_cast<std::uint64_t>(f.mtime) & 0xFFFFFFFFu, 4);
            if (!opt_.blake2)
                PutLe(body, p.crc, 4);
            PutVInt(body, rar5::kCompStored);
            PutVInt(body, rar5::kHostUnix);
            PutVInt(body, f.input.name.size());
            body.insert(body.end(), f.input.name.begin(), f.input.name.end());
            body.insert(body.end(), extra.begin(), extra.end());
            (void)finalPiece;
            return Seal(Rar5Header(body));
        }
        const bool large = f.size > 0xFFFFFFFFu || f.streamSize > 0xFFFFFFFFu;
        bool ascii = std::all_of(f.input.name.begin(), f.input.name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        std::uint16_t flags = rar4::kLongBlock | (p.splitBefore ? rar4::kFileSplitBefore : 0) |
                              (p.splitAfter ? rar4::kFileSplitAfter : 0) |
                              (large ? rar4::kFileLarge : 0) | (ascii ? 0 : rar4::kFileUnicode);
        if (p.encryption != nullptr)
            flags |= rar4::kFileEncrypted | rar4::kFileSalt;
        Bytes fields;
        PutLe(fields, p.dataSize & 0xFFFFFFFFu, 4);
        PutLe(fields, f.size & 0xFFFFFFFFu, 4);
        fields.push_back(HostUnix);
        PutLe(fields, p.crc, 4);
        PutLe(fields, rar4::DosTime(f.mtime, rar4::kDosTimeEarliest), 4);
        // Unpack version 2.9 for AES, 2.0 for plain stored data.
        fields.push_back(p.encryption != nullptr ? rar4::kVersion29 : rar4::kVersion20);
        fields.push_back(rar4::kMethodStored);
        std::string name = f.input.name;
        PutLe(fields, name.size(), 2);
        PutLe(fields, f.mode | S_IFREG, 4);
        if (large) {
            PutLe(fields, p.dataSize >> 32, 4);
            PutLe(fields, f.size >> 32, 4);
        }
        // Non-ASCII names: the Unicode flag with no zero byte marks the name as UTF-8.
        fields.insert(fields.end(), name.begin(), name.end());
        if (p.encryption != nullptr)
            fields.insert(fields.end(), p.encryption->salt.begin(),
                          p.encryption->salt.begin() + rar4::kSaltSize);
        return Seal(Rar4Header(rar4::kFileBlock, flags, fields));
    }

    std::uint64_t FileHeaderSize(std::size_t file, std::uint64_t dataSize, bool before,
                                 bool after) const {
        PieceHeader p;
        p.dataSize = dataSize;
        p.splitBefore = before;
        p.splitAfter = after;
        p.encryption = encrypted() ? &fileCrypt_[file] : nullptr;
        return FileHeader(files_[file], p).size();
    }

    std::uint64_t EndSize() const { return EndHeader(false).size(); }

    std::uint64_t VolumeStartSize(std::size_t volume) const {
        std::uint64_t n = Marker().size() + MainHeader(volume).size();
        if (rar5() && opt_.encryptHeaders)
            n += CryptHeader().size();
        return n;
    }

    // ---- layout ----

    void Plan() {
        volumes_.clear();
        volumes_.emplace_back();
        std::uint64_t used = VolumeStartSize(0);
        const std::uint64_t end = EndSize();
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const std::uint64_t total = files_[i].streamSize;
            std::uint64_t done = 0;
            for (;;) {
                const bool before = done > 0;
                const std::uint64_t avail =
                    opt_.volumeSize > used + end ? opt_.volumeSize - used - end : 0;
                const std::uint64_t header = FileHeaderSize(i, avail, before, true);
                const std::uint64_t need = total - done == 0 ? 0 : 1;
                if (avail < header + need) {
                    if (volumes_.back().pieces.empty())
                        throw PackError("volume size too small for the headers");
                    volumes_.emplace_back();
                    used = VolumeStartSize(volumes_.size() - 1);
                    continue;
                }
                Piece p;
                p.file = i;
                p.size = std::min(total - done, avail - header);
                p.splitBefore = before;
                p.splitAfter = done + p.size < total;
                used += FileHeaderSize(i, p.size, p.splitBefore, p.splitAfter) + p.size;
                done += p.size;
                volumes_.back().pieces.push_back(p);
                if (done >= total)
                    break;
            }
        }
    }

    // ---- writing ----

    class Output {
    public:
        explicit Output(const std::string& path) : path_(path) {
            fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd_ < 0)
                throw PackError(path + ": " + std::strerror(errno));
        }
        ~Output() {
            if (fd_ >= 0)
                ::close(fd_);
        }
        Output(const Output&) = delete;
        Output& operator=(const Output&) = delete;
        void WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
            while (size > 0) {
                ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    throw PackError(path_ + ": " + std::strerror(errno));
                data += n;
                size -= static_cast<std::size_t>(n);
                offset += static_cast<std::uint64_t>(n);
            }
        }
        void Append(const Bytes& b) { Append(b.data(), b.size()); }
        void Append(const std::uint8_t* data, std::size_t size) {
            WriteAt(pos_, data, size);
            pos_ += size;
        }
        void Skip(std::uint64_t n) { pos_ += n; }
        std::uint64_t Pos() const { return pos_; }
        int Fd() const { return fd_; }
        const std::string& Path() const { return path_; }
        void Finish() {
            if (::close(fd_) != 0) {
                fd_ = -1;
                throw PackError(path_ + ": " + std::strerror(errno));
            }
            fd_ = -1;
        }

    private:
        std::string path_;
        int fd_ = -1;
        std::uint64_t pos_ = 0;
    };

    // The stored bytes of one file, produced in order: read, hashed, encrypted.
    class Stream {
    public:
        Stream(const Writer& w, std::size_t file) : w_(w), file_(file), info_(w.files_[file]) {
            fd_ = ::open(info_.input.path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd_ < 0)
                throw PackError(info_.input.path + ": " + std::strerror(errno));
            buf_.resize(kCopyChunk);
            if (w.encrypted()) {
                DataKeys k = DeriveKeys(w.opt_.password, w.fileCrypt_[file]);
                if (!aes_.Init(k.key.data(), k.keySize, k.iv.data(), true))
                    throw PackError("AES is not available");
            }
        }
        ~Stream() {
            if (fd_ >= 0)
                ::close(fd_);
        }
        Stream(const Stream&) = delete;
        Stream& operator=(const Stream&) = delete;

        // The next stored bytes (at most `max`); empty at the end.
        std::pair<const std::uint8_t*, std::size_t> Next(std::uint64_t max) {
            if (pos_ == len_)
                Refill();
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(max, len_ - pos_));
            const std::uint8_t* p = buf_.data() + pos_;
            pos_ += n;
            return {p, n};
        }
        std::uint32_t Crc() const { return crc_; }

        // Plain data with CRC32: `n` bytes straight from the file into the volume by the
        // kernel, while a second thread reads the same bytes for their checksum. Returns the
        // piece's CRC32; the file's running CRC32 is combined from it.
        std::uint32_t CopyPlain(Output& out, std::uint64_t n) {
            const std::uint64_t inOff = read_;
            std::uint32_t pieceCrc = 0;
            bool readOk = true;
            std::thread summer([&] {
                try {
                    Bytes b(kCopyChunk);
                    std::uint64_t done = 0;
                    while (done < n) {
                        std::size_t want =
                            static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, n - done));
                        ssize_t r = ::pread(fd_, b.data(), want, static_cast<off_t>(inOff + done));
                        if (r < 0 && errno == EINTR)
                            continue;
                        if (r <= 0) {
                            readOk = false;
                            return;
                        }
                        pieceCrc = Crc32(pieceCrc, b.data(), static_cast<std::size_t>(r));
                        done += static_cast<std::uint64_t>(r);
                    }
                } catch (...) {
                    readOk = false;
                }
            });
            bool copied = false;
            try {
                copied = CopyRange(inOff, out, n);
            } catch (...) {
                summer.join();
                throw;
            }
            summer.join();
            if (!copied || !readOk)
                throw PackError(info_.input.path + ": file changed while it was packed");
            out.Skip(n);
            read_ += n;
            crc_ = Crc32Combine(crc_, pieceCrc, n);
            return pieceCrc;
        }
        std::array<std::uint8_t, 32> Blake() { return blake_.Final(); }
        void CheckEnd() {
            std::uint8_t extra;
            if (read_ != info_.size || ::pread(fd_, &extra, 1, static_cast<off_t>(read_)) > 0)
                throw PackError(info_.input.path + ": file changed while it was packed");
        }

    private:
        // Copies file bytes [inOff, inOff + n) to the volume at its position; false when the
        // file ended early.
        bool CopyRange(std::uint64_t inOff, Output& out, std::uint64_t n) {
            off_t from = static_cast<off_t>(inOff);
            off_t to = static_cast<off_t>(out.Pos());
            std::uint64_t left = n;
            bool kernel = true;
            Bytes b;
            while (left > 0) {
                if (kernel) {
                    ssize_t r = ::copy_file_range(
                        fd_, &from, out.Fd(), &to,
                        static_cast<std::size_t>(std::min<std::uint64_t>(left, 1ull << 30)), 0);
                    if (r > 0) {
                        left -= static_cast<std::uint64_t>(r);
                        continue;
                    }
                    if (r == 0)
                        return false;
                    if (errno == EINTR)
                        continue;
                    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
                        errno != EOPNOTSUPP && errno != EBADF && errno != EPERM)
                        throw PackError(out.Path() + ": " + std::strerror(errno));
                    kernel = false; // not between these files: copy through a buffer
                    b.resize(kCopyChunk);
                    continue;
                }
                std::size_t want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyChunk));
                ssize_t r = ::pread(fd_, b.data(), want, from);
                if (r < 0 && errno == EINTR)
                    continue;
                if (r < 0)
                    throw PackError(info_.input.path + ": " + std::strerror(errno));
                if (r == 0)
                    return false;
                out.WriteAt(static_cast<std::uint64_t>(to), b.data(), static_cast<std::size_t>(r));
                from += r;
                to += r;
                left -= static_cast<std::uint64_t>(r);
            }
            return true;
        }

        void Refill() {
            pos_ = len_ = 0;
            std::uint64_t left = info_.size - read_;
            std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyChunk));
            std::size_t got = 0;
            while (got < want) {
                ssize_t n =
                    ::pread(fd_, buf_.data() + got, want - got, static_cast<off_t>(read_ + got));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    throw PackError(info_.input.path + ": " + std::strerror(errno));
                if (n == 0)
                    throw PackError(info_.input.path + ": file changed while it was packed");
                got += static_cast<std::size_t>(n);
            }
            read_ += got;
            if (w_.opt_.blake2)
                blake_.Update(buf_.data(), got);
            else
                crc_ = Crc32(crc_, buf_.data(), got);
            len_ = got;
            if (w_.encrypted()) {
                std::size_t padded = static_cast<std::size_t>(RoundUp16(got));
                std::memset(buf_.data() + got, 0, padded - got);
                aes_.Process(buf_.data(), buf_.data(), padded);
                len_ = padded;
            }
        }

        const Writer& w_;
        std::size_t file_;
        const FileInfo& info_;
        int fd_ = -1;
        Bytes buf_;
        std::size_t pos_ = 0, len_ = 0;
        std::uint64_t read_ = 0;
        std::uint32_t crc_ = 0;
        Blake2sp blake_;
        AesCbc aes_;
    };

    void WriteVolume(std::size_t v, const std::string& path) {
        Output out(path);
        out.Append(Marker());
        if (rar5() && opt_.encryptHeaders)
            out.Append(CryptHeader());
        out.Append(MainHeader(v));
        for (const Piece& piece : volumes_[v].pieces) {
            if (!piece.splitBefore)
                stream_ = std::make_unique<Stream>(*this, piece.file);
            PieceHeader ph;
            ph.dataSize = piece.size;
            ph.splitBefore = piece.splitBefore;
            ph.splitAfter = piece.splitAfter;
            ph.encryption = encrypted() ? &fileCrypt_[piece.file] : nullptr;
            const std::uint64_t headerAt = out.Pos();
            const std::uint64_t headerSize =
                FileHeaderSize(piece.file, piece.size, piece.splitBefore, piece.splitAfter);
            out.Skip(headerSize);
            std::uint32_t pieceCrc = 0;
            Blake2sp pieceBlake;
            std::uint64_t left = piece.size;
            if (!encrypted() && !opt_.blake2) {
                pieceCrc = stream_->CopyPlain(out, piece.size);
                left = 0;
            }
            while (left > 0) {
                auto [data, n] = stream_->Next(left);
                if (n == 0)
                    throw PackError(files_[piece.file].input.path +
                                    ": file changed while it was packed");
                if (piece.splitAfter) {
                    if (opt_.blake2)
                        pieceBlake.Update(data, n);
                    else
                        pieceCrc = Crc32(pieceCrc, data, n);
                }
                out.Append(data, n);
                left -= n;
            }
            if (piece.splitAfter) {
                ph.crc = pieceCrc;
                if (opt_.blake2)
                    ph.blake2 = pieceBlake.Final();
            } else {
                stream_->CheckEnd();
                ph.crc = stream_->Crc();
                if (opt_.blake2)
                    ph.blake2 = stream_->Blake();
                stream_.reset();
            }
            if (rar5() && encrypted()) {
                ph.crc = Rar5MacCrc32(keys5_.hashKey, ph.crc);
                if (opt_.blake2)
                    ph.blake2 = Rar5MacBlake2(keys5_.hashKey, ph.blake2);
            }
            Bytes header = FileHeader(files_[piece.file], ph);
            if (header.size() != headerSize)
                throw PackError("internal error: header size changed");
            out.WriteAt(headerAt, header.data(), header.size());
        }
        out.Append(EndHeader(v + 1 == volumes_.size()));
        out.Finish();
    }

    std::string outDir_, baseName_;
    PackOptions opt_;
    std::vector<FileInfo> files_;
    std::vector<EncryptionParams> fileCrypt_;
    EncryptionParams crypt5_;
    Rar5Keys keys5_;
    Bytes headerSalt4_;
    Rar4Key headerKey4_;
    bool multi_ = true;
    std::vector<Volume> volumes_;
    std::unique_ptr<Stream> stream_;
};

} // namespace

std::vector<std::string> PackArchive(const std::vector<PackInput>& inputs,
                                     const std::string& outDir, const std::string& baseName,
                                     const PackOptions& options) {
    if (baseName.empty() || baseName.find('/') != std::string::npos)
        throw PackError("bad archive name: " + baseName);
    Writer w(inputs, outDir, baseName, options);
    return w.Run();
}

std::uint64_t ParseVolumeSize(const std::string& text) {
    if (text.empty())
        return 0;
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > (UINT64_MAX - 9) / 10)
            return 0;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    if (i == 0)
        return 0;
    std::uint64_t unit = 1;
    if (i + 1 == text.size()) {
        switch (text[i]) {
        case 'k':
        case 'K':
            unit = 1024;
            break;
        case 'm':
        case 'M':
            unit = 1024 * 1024;
            break;
        case 'g':
        case 'G':
            unit = 1024ull * 1024 * 1024;
            break;
        default:
            return 0;
        }
    } else if (i != text.size()) {
        return 0;
    }
    if (value > UINT64_MAX / unit)
        return 0;
    return value * unit;
}

} // namespace rar
