#include "extractor/Extractor.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "extractor/LibarchiveUnpacker.h"
#include "extractor/SafePath.h"
#include "rar/EntryName.h"

namespace extractor {

int WorseResult(int a, int b) {
    auto rank = [](int code) {
        switch (code) {
        case kExitOk:
            return 0;
        case kExitWarning:
            return 1;
        case kExitCrcError:
            return 2;
        case kExitBadPassword:
            return 3;
        default:
            return 4;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

WatchedVolume::WatchedVolume(ProgressWatcher& watcher, std::size_t index)
    : watcher_(watcher), index_(index) {}

WatchedVolume::~WatchedVolume() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool WatchedVolume::Open() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = ::open(watcher_.VolumeName(index_).c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return false;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    return true;
}

std::uint64_t WatchedVolume::Refresh() {
    struct stat st {};
    if (::stat(watcher_.VolumeName(index_).c_str(), &st) == 0 &&
        (static_cast<std::uint64_t>(st.st_dev) != device_ ||
         static_cast<std::uint64_t>(st.st_ino) != inode_))
        Open();
    return limit_ = watcher_.Usable(index_);
}

std::size_t WatchedVolume::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset >= limit_ || fd_ < 0)
        return 0;
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, limit_ - offset));
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(fd_, static_cast<char*>(buffer) + done, length - done,
                            static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

struct Extractor::CachedKeys {
    rar::EncryptionParams params;
    rar::DataKeys keys;
};

namespace {

bool SameParams(const rar::EncryptionParams& a, const rar::EncryptionParams& b) {
    return a.format == b.format && a.kdfCount == b.kdfCount && a.saltSize == b.saltSize &&
           a.salt == b.salt && a.hasIv == b.hasIv && a.iv == b.iv;
}

} // namespace

Extractor::Extractor(ExtractorOptions options) : options_(std::move(options)) {
    buffer_.resize(kReadSize);
}

Extractor::~Extractor() {
    if (rootFd_ >= 0)
        ::close(rootFd_);
}

void Extractor::Report(const std::string& text) { std::fprintf(stderr, "unrar: %s\n", text.c_str()); }

int Extractor::Run() {
    try {
        ::mkdir(options_.outputDirectory.c_str(), 0755);
        rootFd_ = ::open(options_.outputDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (rootFd_ < 0)
            throw ExtractionEnd{kExitFatal, options_.outputDirectory + ": " + std::strerror(errno)};
        watcher_ = std::make_unique<ProgressWatcher>(options_.firstVolume, options_.progressFile,
                                                     options_.initialCount, options_.idleTimeout);
        std::string error;
        if (!watcher_->Start(error))
            throw ExtractionEnd{kExitFatal, error};
        ExtractAll();
    } catch (const ExtractionEnd& end) {
        Report(end.message);
        result_ = WorseResult(result_, end.code);
        if (end.code == kExitStopped || end.code == kExitTimeout)
            result_ = end.code;
        return result_;
    }
    Report(result_ == kExitOk ? "All OK" : "Done, with errors");
    return result_;
}

void Extractor::WaitForChange() {
    switch (watcher_->Wait()) {
    case ProgressWatcher::Wake::Changed:
        return;
    case ProgressWatcher::Wake::Stopped:
        throw ExtractionEnd{kExitStopped, "stopped: the client ended the playback"};
    case ProgressWatcher::Wake::IdleTimeout:
        throw ExtractionEnd{kExitTimeout, "stopped: no new data for " +
                                              std::to_string(options_.idleTimeout.count() / 1000) +
                                              " seconds"};
    }
}

void Extractor::OpenVolume(std::size_t index) {
    reader_.reset();
    volume_ = std::make_unique<WatchedVolume>(*watcher_, index);
    if (!volume_->Open())
        throw ExtractionEnd{kExitFatal,
                            watcher_->VolumeName(index) + ": " + std::strerror(errno)};
    reader_ = std::make_unique<rar::VolumeReader>(*volume_);
    if (options_.hasPassword)
        reader_->SetPassword(options_.password);
    rar::Status s = Step([this] { return reader_->ReadArchiveHeader(); });
    if (s == rar::Status::PasswordRequired || s == rar::Status::BadPassword)
        throw ExtractionEnd{kExitBadPassword, watcher_->VolumeName(index) +
                                                  (s == rar::Status::BadPassword
                                                       ? ": wrong password"
                                                       : ": the headers are encrypted and no "
                                                         "password was given")};
    if (s == rar::Status::NeedMore)
        throw ExtractionEnd{kExitFatal, watcher_->VolumeName(index) + ": volume ends early"};
    if (s != rar::Status::Ok)
        throw ExtractionEnd{kExitFatal, watcher_->VolumeName(index) + ": " +
                                            rar::StatusText(s) + " " + reader_->ErrorText()};
}

rar::Status Extractor::Step(const std::function<rar::Status()>& step) {
    for (;;) {
        volume_->Refresh();
        rar::Status s = step();
        if (s != rar::Status::NeedMore)
            return s;
        if (watcher_->Complete(volume_->Index())) {
            // Every byte is there: a further NeedMore is final.
            volume_->Refresh();
            return step();
        }
        WaitForChange();
    }
}

bool Extractor::NextVolume() {
    const std::size_t next = volume_->Index() + 1;
    for (;;) {
        if (watcher_->Exists(next))
            break;
        if (watcher_->Ended(next - 1))
            return false;
        WaitForChange();
    }
    OpenVolume(next);
    return true;
}

void Extractor::ExtractAll() {
    OpenVolume(0);
    archive_ = reader_->Archive();
    watcher_->SetNewNaming(archive_.format == rar::Format::Rar5 || archive_.newNaming);
    encryptedArchive_ = archive_.headersEncrypted;
    if (archive_.volumeNumber && *archive_.volumeNumber > 0)
        throw ExtractionEnd{kExitFatal, options_.firstVolume + " is not the first volume"};
    while (!finished_) {
        rar::Entry e;
        rar::Status s = Step([&] { return reader_->ReadNext(e); });
        switch (s) {
        case rar::Status::Ok:
            if (e.kind == rar::EntryKind::Service || e.splitBefore)
                continue; // a comment or the like, or the rest of an entry that was refused
            HandleEntry(e);
            continue;
        case rar::Status::EndOfArchive:
            if (!reader_->NextVolumeExpected())
                return;
            if (!NextVolume())
                throw ExtractionEnd{kExitFatal, watcher_->VolumeName(volume_->Index() + 1) +
                                                    ": volume missing"};
            continue;
        case rar::Status::NeedMore:
            if (reader_->AtCleanEnd()) {
                // The volume ends without an end block: the set goes on if another volume exists.
                if (archive_.isVolume && NextVolume())
                    continue;
                return;
            }
            throw ExtractionEnd{kExitFatal,
                                watcher_->VolumeName(volume_->Index()) + ": volume ends early"};
        case rar::Status::PasswordRequired:
        case rar::Status::BadPassword:
            throw ExtractionEnd{kExitBadPassword, watcher_->VolumeName(volume_->Index()) + ": " +
                                                      rar::StatusText(s)};
        default:
            throw ExtractionEnd{kExitFatal, watcher_->VolumeName(volume_->Index()) + ": " +
                                                rar::StatusText(s) + " " + reader_->ErrorText()};
        }
    }
}

void Extractor::HandleEntry(const rar::Entry& e) {
    if (e.encrypted)
        encryptedArchive_ = true;
    std::string why;
    if (!rar::IsSafeEntryName(e.name, why)) {
        Report("refused \"" + e.name + "\": " + why);
        result_ = WorseResult(result_, kExitWarning);
        ++entriesDone_;
        return;
    }
    const std::string name = rar::NormalizedEntryName(e.name);
    if (e.isDirectory) {
        std::string error;
        int dir = OpenParentFolder(rootFd_, name, true, error);
        if (dir < 0) {
            Report("cannot create folder " + name + ": " + error);
            result_ = WorseResult(result_, kExitWarning);
        } else {
            ::close(dir);
        }
        ++entriesDone_;
        return;
    }
    if (e.isSymlink) {
        Report("skipped link " + name);
        ++entriesDone_;
        return;
    }
    if (!e.IsStored()) {
        if (encryptedArchive_)
            throw ExtractionEnd{kExitFatal,
                                name + ": packed entries of encrypted archives are not supported"};
        UnpackRest(entriesDone_);
        finished_ = true;
        return;
    }
    ExtractStored(e);
    ++entriesDone_;
}

const rar::DataKeys& Extractor::KeysFor(const rar::EncryptionParams& params) {
    for (const auto& k : keys_)
        if (SameParams(k->params, params))
            return k->keys;
    auto k = std::make_unique<CachedKeys>();
    k->params = params;
    k->keys = rar::DeriveKeys(options_.password, params);
    keys_.push_back(std::move(k));
    return keys_.back()->keys;
}

void Extractor::ExtractStored(rar::Entry entry) {
    const std::string name = rar::NormalizedEntryName(entry.name);
    aes_.reset();
    if (entry.encrypted) {
        if (!options_.hasPassword || !entry.encryption) {
            Report(name + ": encrypted, and no password was given; skipped");
            result_ = WorseResult(result_, kExitBadPassword);
            return;
        }
        const rar::DataKeys& keys = KeysFor(*entry.encryption);
        if (!keys.passwordOk) {
            Report(name + ": wrong password; skipped");
            result_ = WorseResult(result_, kExitBadPassword);
            return;
        }
        aes_ = std::make_unique<rar::AesCbc>();
        if (!aes_->Init(keys.key.data(), keys.keySize, keys.iv.data(), false))
            throw ExtractionEnd{kExitFatal, "AES is not available"};
    }
    std::string error;
    int out = CreateOutputFile(rootFd_, name, error);
    if (out < 0) {
        Report("cannot create " + error);
        result_ = WorseResult(result_, kExitWarning);
        return;
    }
    Report("Extracting " + name);
    pending_.clear();
    written_ = 0;
    toWrite_ = entry.unpackedSizeUnknown ? UINT64_MAX : entry.unpackedSize;
    crc_ = 0;
    blake_.reset();
    hashInBackground_ = !aes_;
    if (hashInBackground_)
        hasher_.Begin(entry.hasBlake2);
    else if (entry.hasBlake2)
        blake_ = std::make_unique<rar::Blake2sp>();
    const bool blake = entry.hasBlake2;
    try {
        rar::Entry piece = entry;
        for (;;) {
            CopyPiece(piece, out);
            if (!piece.splitAfter)
                break;
            if (!NextVolume())
                throw ExtractionEnd{kExitFatal, watcher_->VolumeName(volume_->Index() + 1) +
                                                    ": volume missing"};
            rar::Entry next;
            for (;;) {
                rar::Status s = Step([&] { return reader_->ReadNext(next); });
                if (s != rar::Status::Ok)
                    throw ExtractionEnd{kExitFatal, watcher_->VolumeName(volume_->Index()) +
                                                        ": the rest of " + name + " is missing (" +
                                                        rar::StatusText(s) + ")"};
                if (next.kind == rar::EntryKind::File)
                    break;
            }
            if (!next.splitBefore || next.name != entry.name)
                throw ExtractionEnd{kExitFatal, watcher_->VolumeName(volume_->Index()) +
                                                    ": the rest of " + name + " is missing"};
            piece = next;
        }
        if (!pending_.empty())
            throw ExtractionEnd{kExitFatal, name + ": encrypted data is not a whole number of "
                                                   "blocks"};
        ::close(out);
        out = -1;
        if (blake != piece.hasBlake2) {
            Report(name + ": checksum kinds differ between volumes; not verified");
            result_ = WorseResult(result_, kExitCrcError);
            return;
        }
        CheckHash(piece, name);
    } catch (...) {
        if (out >= 0)
            ::close(out);
        throw;
    }
}

void Extractor::CopyPiece(const rar::Entry& piece, int out) {
    std::uint64_t pos = piece.dataOffset;
    const std::uint64_t end = piece.dataOffset + piece.packedSize;
    const std::size_t index = volume_->Index();
    // The watcher is asked again only once the bytes it allowed are used up.
    std::uint64_t available = volume_->Size();
    while (pos < end) {
        if (hashInBackground_ && kernelCopy_ && available >= end && watcher_->Complete(index)) {
            if (CopyComplete(pos, end, out))
                continue;
            kernelCopy_ = false;
        }
        if (available <= pos)
            available = volume_->Refresh();
        if (available > pos) {
            std::size_t n = static_cast<std::size_t>(
                std::min<std::uint64_t>({end, available, pos + kReadSize}) - pos);
            std::uint8_t* buffer = hashInBackground_ ? hasher_.Acquire() : buffer_.data();
            std::size_t got = volume_->ReadAt(pos, buffer, n);
            if (got > 0) {
                pos += got;
                if (hashInBackground_)
                    hasher_.Submit(buffer, WriteOut(buffer, got, out));
                else
                    Consume(buffer, got, out);
                watcher_->NoteProgress();
                continue;
            }
            if (hashInBackground_)
                hasher_.Release(buffer);
        }
        if (watcher_->Complete(index) && (available = volume_->Refresh()) <= pos)
            throw ExtractionEnd{kExitFatal, watcher_->VolumeName(index) + ": volume ends early"};
        if (available <= pos)
            WaitForChange();
    }
}

bool Extractor::CopyComplete(std::uint64_t& pos, std::uint64_t end, int out) {
    // The volume is complete (the downloader is done with it): the kernel copies the bytes to
    // the output, and the checksum thread reads them again from the page cache meanwhile.
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(end - pos, kKernelCopySize));
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, toWrite_ - written_));
    if (n == 0)
        return false;
    loff_t in = static_cast<loff_t>(pos);
    std::size_t done = 0;
    while (done < n) {
        ssize_t c = ::copy_file_range(volume_->Descriptor(), &in, out, nullptr, n - done, 0);
        if (c < 0 && errno == EINTR)
            continue;
        if (c <= 0)
            break;
        done += static_cast<std::size_t>(c);
    }
    if (done == 0)
        return false; // no kernel copy here (another file system): the ordinary copy does it
    written_ += done;
    hasher_.SubmitFileRange(volume_->Descriptor(), pos, done);
    pos += done;
    watcher_->NoteProgress();
    return true;
}

void Extractor::Consume(const std::uint8_t* data, std::size_t size, int out) {
    if (!aes_) {
        Emit(data, size, out);
        return;
    }
    pending_.insert(pending_.end(), data, data + size);
    std::size_t whole = pending_.size() & ~std::size_t{15};
    if (whole == 0)
        return;
    aes_->Process(pending_.data(), pending_.data(), whole);
    Emit(pending_.data(), whole, out);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(whole));
}

void Extractor::Emit(const std::uint8_t* data, std::size_t size, int out) {
    std::size_t take = WriteOut(data, size, out);
    if (blake_)
        blake_->Update(data, take);
    else
        crc_ = rar::Crc32(crc_, data, take);
}

std::size_t Extractor::WriteOut(const std::uint8_t* data, std::size_t size, int out) {
    std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size, toWrite_ - written_));
    std::size_t done = 0;
    while (done < take) {
        ssize_t n = ::write(out, data + done, take - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ExtractionEnd{kExitFatal, std::string("write error: ") + std::strerror(errno)};
        done += static_cast<std::size_t>(n);
    }
    written_ += take;
    return take;
}

void Extractor::CheckHash(const rar::Entry& last, const std::string& name) {
    if (toWrite_ != UINT64_MAX && written_ != toWrite_) {
        Report(name + ": size mismatch (the file is kept)");
        result_ = WorseResult(result_, kExitCrcError);
        return;
    }
    const bool tweaked = last.encryption && last.encryption->tweakedChecksums;
    bool ok = true;
    if (hashInBackground_) {
        if (hasher_.ReadFailed()) {
            Report(name + ": read error while checking (the file is kept)");
            result_ = WorseResult(result_, kExitCrcError);
            return;
        }
        if (!last.hasBlake2)
            crc_ = hasher_.FinishCrc32();
    }
    if (last.hasBlake2 && (blake_ || hashInBackground_)) {
        std::array<std::uint8_t, 32> digest =
            hashInBackground_ ? hasher_.FinishBlake2() : blake_->Final();
        if (tweaked)
            digest = rar::Rar5MacBlake2(KeysFor(*last.encryption).hashKey, digest);
        ok = digest == last.blake2;
    } else if (last.hasCrc32) {
        std::uint32_t crc = crc_;
        if (tweaked)
            crc = rar::Rar5MacCrc32(KeysFor(*last.encryption).hashKey, crc);
        ok = crc == last.crc32;
    }
    if (!ok) {
        Report(name + ": checksum error (the file is kept)");
        result_ = WorseResult(result_, kExitCrcError);
    }
}

void Extractor::UnpackRest(std::size_t entriesDone) {
    reader_.reset();
    volume_.reset();
    LibarchiveUnpacker unpacker(*this, rootFd_, entriesDone);
    result_ = WorseResult(result_, unpacker.Run());
}

} // namespace extractor
