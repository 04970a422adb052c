#pragma once

// Extracts every file entry of a RAR archive whose volumes may still be arriving, in archive
// order, into an output directory. Stored entries are copied (and decrypted) here; from the
// first packed entry on, libarchive unpacks the rest through the same waiting reader.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "extractor/BackgroundHasher.h"
#include "extractor/ProgressWatcher.h"
#include "rar/ByteSource.h"
#include "rar/ExtractorProtocol.h"
#include "rar/RarCrypto.h"
#include "rar/RarHash.h"
#include "rar/VolumeReader.h"

namespace extractor {

// Bytes read from a volume at once.
constexpr std::size_t kReadSize = 256 * 1024;
// Bytes of a complete volume copied by the kernel at once.
constexpr std::size_t kKernelCopySize = 8 * 1024 * 1024;
// Read buffers that may wait for the checksum thread at once.
constexpr std::size_t kHashBuffers = 8;

struct ExtractorOptions {
    std::string firstVolume;
    std::string outputDirectory;
    std::string password;
    bool hasPassword = false;
    std::int64_t initialCount = 0;
    std::string progressFile;
    std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout;
};

// Raised to end the extraction: the code to exit with and what to report.
struct ExtractionEnd {
    int code;
    std::string message;
};

// A volume seen through the watcher: its size is what may be read now. The file is opened
// again when its name comes to stand for a new file (the client re-creates a volume whose
// first request failed).
class WatchedVolume : public rar::ByteSource {
public:
    WatchedVolume(ProgressWatcher& watcher, std::size_t index);
    ~WatchedVolume() override;
    WatchedVolume(const WatchedVolume&) = delete;
    WatchedVolume& operator=(const WatchedVolume&) = delete;
    bool Open();
    std::uint64_t Size() override { return limit_; }
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
    // Takes the watcher's current view; returns the new limit.
    std::uint64_t Refresh();
    std::size_t Index() const { return index_; }
    int Descriptor() const { return fd_; }

private:
    ProgressWatcher& watcher_;
    std::size_t index_;
    int fd_ = -1;
    std::uint64_t device_ = 0, inode_ = 0;
    std::uint64_t limit_ = 0;
};

class Extractor {
public:
    explicit Extractor(ExtractorOptions options);
    ~Extractor();
    // Runs to the end; returns the exit code. Reports on stderr.
    int Run();

    // Waits until the watcher shows a change; raises ExtractionEnd on "OK" or idle timeout.
    void WaitForChange();
    ProgressWatcher& Watcher() { return *watcher_; }

private:
    void ExtractAll();
    void OpenVolume(std::size_t index);
    rar::Status Step(const std::function<rar::Status()>& step);
    bool NextVolume();
    void HandleEntry(const rar::Entry& entry);
    void ExtractStored(rar::Entry entry);
    void CopyPiece(const rar::Entry& piece, int out);
    void FinishOutput(int out);
    void CheckHash(const rar::Entry& last, const std::string& name);
    const rar::DataKeys& KeysFor(const rar::EncryptionParams& params);
    void UnpackRest(std::size_t entriesDone);
    bool CopyComplete(std::uint64_t& pos, std::uint64_t end, int out);
    void Consume(const std::uint8_t* data, std::size_t size, int out);
    void Emit(const std::uint8_t* data, std::size_t size, int out);
    std::size_t WriteOut(const std::uint8_t* data, std::size_t size, int out);
    void Report(const std::string& text);

    ExtractorOptions options_;
    std::unique_ptr<ProgressWatcher> watcher_;
    int rootFd_ = -1;
    std::unique_ptr<WatchedVolume> volume_;
    std::unique_ptr<rar::VolumeReader> reader_;
    rar::ArchiveInfo archive_;
    bool encryptedArchive_ = false;
    // File and folder entries begun so far (libarchive picks up after them).
    std::size_t entriesDone_ = 0;
    int result_ = kExitOk;
    bool finished_ = false;
    std::vector<std::uint8_t> buffer_;
    // The entry being written: its decryption and checksum state.
    std::unique_ptr<rar::AesCbc> aes_;
    std::vector<std::uint8_t> pending_;
    std::uint64_t written_ = 0;
    std::uint64_t toWrite_ = 0;
    std::uint32_t crc_ = 0;
    std::unique_ptr<rar::Blake2sp> blake_;
    // Plain entries are hashed on a second thread; decrypted ones here.
    BackgroundHasher hasher_{kReadSize, kHashBuffers};
    bool hashInBackground_ = false;
    // copy_file_range works between the volumes and the output folder.
    bool kernelCopy_ = true;
    struct CachedKeys;
    std::vector<std::unique_ptr<CachedKeys>> keys_;
};

// Sets a result code keeping the most severe.
int WorseResult(int a, int b);

} // namespace extractor
