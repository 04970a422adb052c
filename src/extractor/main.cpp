// unrar: the streaming extractor. Started by the client once per playback as
//
//   unrar x -y -dh -kb [-p<password>] -idp -ss<N> <first volume> <output directory>
//
// it extracts every file entry of the archive, in archive order and with its folders, into the
// output directory (overwriting), while the client is still downloading the volumes. -y, -dh,
// -kb and -idp are accepted as the client passes them (answer yes, read shared files, keep
// broken files, no percentage); -p gives the password; -ss the count of leading bytes of the
// first volume known complete when the client started us.
//
// How the extractor knows which bytes it may use. The client downloads the volumes strictly in
// order, each in many ranges, and keeps the progress file "unrar.txt" beside this program.
// Regions of a volume not yet downloaded hold whatever the disk gives, never data, so:
//
//  1. A volume is complete once the next volume's file exists. Later volumes are named after
//     the first (name.partN.rar, or name.rar, name.r00, ...). The next file's existence may be
//     learnt at any time from the file system.
//  2. Otherwise only the first V bytes of the newest volume are used, V being the largest
//     progress value attributed to it (the value lags the download; it is never exceeded).
//  3. A progress value belongs to the volume that was newest when it was written. The volumes'
//     folder and the progress file are watched through one inotify queue: a write is
//     attributed to the newest volume whose creation came before it in the queue. A value read
//     later than its event may be newer still; it then belongs to a later volume, whose
//     existence makes the attributed one complete (rule 1), so it is harmless. Volumes present
//     before the watch began count as created before every event. If the queue overflows, no
//     value is attributed until the next volume appears.
//  4. A value written for a volume whose ranges all finished before its first notification
//     may still be the previous volume's count: it is only ever written when the whole volume
//     is on disk, and every value is capped at the volume file's size, so it is harmless.
//  5. A 0 is either the early count of a volume after the first (its second range not done)
//     or the client's last notification after the download. The early 0 is the first write
//     of its volume and the first volume has none; so a 0 for the first volume, or after a
//     non-zero value or a second write for the same volume, ends the download: that volume
//     is complete and no further volume comes. The full length the client writes when a
//     volume's ranges are all done completes nothing by itself (the file may be shorter than
//     the volume still); a tiny last volume thus ends at the final 0.
//  6. "OK" (or a negative value) in the progress file: the client ended the playback; stop at
//     once. Without any change (no new data read, no new volume, no write of the progress
//     file) for 10 minutes: stop.
//  7. Started late (a later volume already exists when the watch begins), the extractor has
//     missed the writes that tell an early 0 from the last one for the newest volume. The
//     count read then is not attributed to it (it may be an older volume's); that volume ends
//     when the progress file reads 0 and nobody has the volume open for writing any more (a
//     read lease is granted), the client's downloader holding it open while it downloads it.
//  8. A complete volume that ends before the archive says it does, or a volume that the
//     archive needs but that does not come before the download ends, is an error.
//
// Entries: stored entries are copied as their bytes become usable, decrypted for encrypted
// archives (RAR 1.5-4.x AES-128, RAR 5.0 AES-256); from the first packed entry on libarchive
// unpacks the rest, fed by the same rules (a packed entry of an encrypted archive is an
// error). The output is written in order, unbuffered, so a reader sees it grow. At the end of
// an entry its CRC32 or BLAKE2sp is checked; a mismatch is reported and the file kept. Names
// that are absolute, hold "..", a drive letter or a device name are refused: nothing is
// written for them, and nothing is ever written outside the output directory.
//
// Exit codes: see rar/ExtractorProtocol.h. Everything is reported on standard error.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "extractor/Extractor.h"
#include "rar/ExtractorProtocol.h"

namespace {

// Overrides the idle timeout (tests).
constexpr const char* kIdleTimeoutVariable = "TAVILON_UNRAR_IDLE_TIMEOUT_MS";

const char kUsage[] =
    "usage: unrar x [-y] [-dh] [-kb] [-p<password>] [-idp] [-ss<count>] <first volume> "
    "<output directory>\n";

std::string ProgramFolder() {
    std::vector<char> path(4096);
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0)
        return ".";
    std::string exe(path.data(), static_cast<std::size_t>(n));
    std::size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

bool ParseCount(const char* text, std::int64_t& value) {
    if (*text == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < 0)
        return false;
    value = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    using namespace extractor;
    ExtractorOptions options;
    std::vector<std::string> positional;
    if (argc < 2 || std::strcmp(argv[1], "x") != 0) {
        std::fputs(kUsage, stderr);
        return kExitBadArguments;
    }
    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-' && positional.empty()) {
            if (std::strcmp(arg, "-y") == 0 || std::strcmp(arg, "-dh") == 0 ||
                std::strcmp(arg, "-kb") == 0 || std::strcmp(arg, "-idp") == 0)
                continue;
            if (std::strncmp(arg, "-p", 2) == 0) {
                options.password = arg + 2;
                options.hasPassword = !options.password.empty();
                continue;
            }
            if (std::strncmp(arg, "-ss", 3) == 0 && ParseCount(arg + 3, options.initialCount))
                continue;
            std::fprintf(stderr, "unrar: unknown switch %s\n", arg);
            std::fputs(kUsage, stderr);
            return kExitBadArguments;
        }
        positional.push_back(arg);
    }
    if (positional.size() != 2) {
        std::fputs(kUsage, stderr);
        return kExitBadArguments;
    }
    options.firstVolume = positional[0];
    options.outputDirectory = positional[1];
    options.progressFile = ProgramFolder() + "/" + kProgressFileName;
    if (const char* t = std::getenv(kIdleTimeoutVariable)) {
        std::int64_t ms = 0;
        if (ParseCount(t, ms) && ms > 0)
            options.idleTimeout = std::chrono::milliseconds(ms);
    }
    Extractor extractor(options);
    return extractor.Run();
}
