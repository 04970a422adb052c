#include "extractor/LibarchiveUnpacker.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "extractor/SafePath.h"
#include "rar/EntryName.h"

namespace extractor {

LibarchiveUnpacker::LibarchiveUnpacker(Extractor& extractor, int rootFd, std::size_t skip)
    : extractor_(extractor), rootFd_(rootFd), skip_(skip) {
    buffer_.resize(kReadSize);
}

long LibarchiveUnpacker::ReadCallback(::archive* a, void* self, const void** buffer) {
    auto* me = static_cast<LibarchiveUnpacker*>(self);
    try {
        return me->Read(buffer);
    } catch (const ExtractionEnd& end) {
        me->end_ = end;
    } catch (const std::exception& e) {
        me->end_ = ExtractionEnd{kExitFatal, e.what()};
    }
    archive_set_error(a, EIO, "%s", me->end_->message.c_str());
    return -1;
}

long LibarchiveUnpacker::Read(const void** buffer) {
    ProgressWatcher& w = extractor_.Watcher();
    for (;;) {
        if (!volume_) {
            volume_ = std::make_unique<WatchedVolume>(w, index_);
            if (!volume_->Open())
                throw ExtractionEnd{kExitFatal,
                                    w.VolumeName(index_) + ": " + std::strerror(errno)};
            offset_ = 0;
        }
        const std::uint64_t usable = volume_->Refresh();
        if (usable > offset_) {
            std::size_t got = volume_->ReadAt(offset_, buffer_.data(), buffer_.size());
            if (got > 0) {
                offset_ += got;
                *buffer = buffer_.data();
                w.NoteProgress();
                return static_cast<long>(got);
            }
        }
        if (w.Complete(index_) && volume_->Refresh() <= offset_) {
            // The end of a complete volume: go on with the next one, or end the stream after
            // the last.
            if (w.Exists(index_ + 1)) {
                volume_.reset();
                ++index_;
                continue;
            }
            if (w.Ended(index_))
                return 0;
        }
        extractor_.WaitForChange();
    }
}

int LibarchiveUnpacker::Run() {
    struct archive* a = archive_read_new();
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    archive_read_set_read_callback(a, ReadCallback);
    archive_read_set_callback_data(a, this);
    int result = kExitOk;
    auto fail = [&](const std::string& what) -> int {
        std::string text = what + ": " + (archive_error_string(a) ? archive_error_string(a) : "");
        archive_read_free(a);
        if (end_)
            throw *end_;
        throw ExtractionEnd{kExitFatal, text};
    };
    if (archive_read_open1(a) != ARCHIVE_OK)
        return fail("cannot unpack");
    std::size_t ordinal = 0;
    for (;;) {
        struct archive_entry* entry = nullptr;
        int r = archive_read_next_header(a, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return fail("cannot unpack");
        const char* utf8 = archive_entry_pathname_utf8(entry);
        std::string rawName = utf8 ? utf8 : (archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "");
        if (ordinal++ < skip_) {
            if (archive_read_data_skip(a) < ARCHIVE_WARN)
                return fail(rawName);
            continue;
        }
        std::string why;
        if (!rar::IsSafeEntryName(rawName, why)) {
            std::fprintf(stderr, "unrar: refused \"%s\": %s\n", rawName.c_str(), why.c_str());
            result = WorseResult(result, kExitWarning);
            if (archive_read_data_skip(a) < ARCHIVE_WARN)
                return fail(rawName);
            continue;
        }
        const std::string name = rar::NormalizedEntryName(rawName);
        const mode_t type = archive_entry_filetype(entry);
        std::string error;
        if (type == AE_IFDIR) {
            int dir = OpenParentFolder(rootFd_, name, true, error);
            if (dir >= 0)
                ::close(dir);
            continue;
        }
        if (type != AE_IFREG || archive_entry_hardlink(entry) != nullptr) {
            std::fprintf(stderr, "unrar: skipped link %s\n", name.c_str());
            if (archive_read_data_skip(a) < ARCHIVE_WARN)
                return fail(name);
            continue;
        }
        if (archive_entry_is_encrypted(entry))
            return fail(name + ": packed entries of encrypted archives are not supported");
        int out = CreateOutputFile(rootFd_, name, error);
        if (out < 0) {
            std::fprintf(stderr, "unrar: cannot create %s\n", error.c_str());
            result = WorseResult(result, kExitWarning);
            if (archive_read_data_skip(a) < ARCHIVE_WARN)
                return fail(name);
            continue;
        }
        std::fprintf(stderr, "unrar: Extracting %s\n", name.c_str());
        for (;;) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            r = archive_read_data_block(a, &block, &size, &offset);
            if (r == ARCHIVE_EOF)
                break;
            if (r < ARCHIVE_WARN) {
                ::close(out);
                if (end_)
                    return fail(name);
                // The data does not unpack or its checksum is wrong: the file is kept.
                std::fprintf(stderr, "unrar: %s: %s (the file is kept)\n", name.c_str(),
                             archive_error_string(a) ? archive_error_string(a) : "error");
                result = WorseResult(result, kExitCrcError);
                out = -1;
                break;
            }
            const auto* p = static_cast<const char*>(block);
            std::size_t done = 0;
            while (done < size) {
                ssize_t n = ::pwrite(out, p + done, size - done, offset + static_cast<off_t>(done));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    ::close(out);
                    return fail(std::string("write error: ") + std::strerror(errno));
                }
                done += static_cast<std::size_t>(n);
            }
        }
        if (out >= 0)
            ::close(out);
    }
    archive_read_free(a);
    return result;
}

} // namespace extractor
