#include "server/filehost/FileHostStore.h"

#include "server/filehost/AbuseReport.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace filehost {

namespace fs = std::filesystem;

namespace {

constexpr size_t kIdLength = 8;
constexpr char kIdAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr size_t kTokenBytes = 16;
// Longest line accepted from the store's files.
constexpr size_t kMaxLineLength = 4096;
// Bytes read from reports.tsv at once.
constexpr size_t kReportReadChunk = 64 * 1024;

// Holds the exclusive lock of the store folder while a file of it is rewritten.
class StoreLock {
public:
    explicit StoreLock(const fs::path& dir) {
        fd_ = ::open((dir / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0)
            throw StoreError("cannot open the lock file in " + dir.string());
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~StoreLock() { ::close(fd_); }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    int fd_ = -1;
};

std::vector<std::vector<std::string>> ReadTable(const fs::path& file, size_t columns) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > kMaxLineLength)
            continue;
        std::vector<std::string> cells;
        std::stringstream stream(line);
        std::string cell;
        while (std::getline(stream, cell, '\t'))
            cells.push_back(cell);
        if (cells.size() == columns)
            rows.push_back(std::move(cells));
    }
    return rows;
}

void WriteTable(const fs::path& file, const std::string& content) {
    const fs::path temporary = file.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << content;
        out.flush();
        if (!out)
            throw StoreError("cannot write " + temporary.string());
    }
    fs::rename(temporary, file);
}

bool HasControlCharacter(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

std::string NewId() {
    const std::string random = RandomHex(kIdLength);
    std::string id;
    for (size_t i = 0; i < kIdLength; ++i) {
        const int value = std::stoi(random.substr(i * 2, 2), nullptr, 16);
        id.push_back(kIdAlphabet[value % (sizeof kIdAlphabet - 1)]);
    }
    return id;
}

bool IsId(const std::string& id) {
    if (id.size() != kIdLength)
        return false;
    for (const char c : id)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

} // namespace

bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           !HasControlCharacter(name);
}

fs::path DefaultStoreDir() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return fs::path(data) / "tavilon-filehost";
    if (const char* home = std::getenv("HOME"); home && *home)
        return fs::path(home) / ".local/share/tavilon-filehost";
    return fs::current_path() / "tavilon-filehost";
}

FileHostStore::FileHostStore(fs::path dir) : dir_(std::move(dir)) {
    std::error_code error;
    fs::create_directories(dir_ / "files", error);
    if (!fs::is_directory(dir_ / "files"))
        throw StoreError("cannot create the store folder " + dir_.string());
    std::lock_guard guard(mutex_);
    Refresh();
}

void FileHostStore::Refresh() {
    const auto changed = [](const fs::path& file, Watched& seen) {
        Watched now;
        struct stat info {};
        if (::stat(file.c_str(), &info) == 0) {
            now.inode = info.st_ino;
            now.modifiedNs = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
            now.size = info.st_size;
        }
        if (now == seen)
            return false;
        seen = now;
        return true;
    };
    if (changed(UsersFile(), usersSeen_)) {
        accounts_.clear();
        for (const auto& row : ReadTable(UsersFile(), 4)) {
            Account account;
            try {
                account.password.iterations = std::stoi(row[1]);
            } catch (const std::exception&) {
                continue;
            }
            account.password.salt = row[2];
            account.password.hash = row[3];
            accounts_[row[0]] = account;
        }
    }
    if (changed(LinksFile(), linksSeen_)) {
        links_.clear();
        for (const auto& row : ReadTable(LinksFile(), 3))
            if (IsId(row[0]) && IsPlainFileName(row[2]))
                links_[row[0]] = Link{row[1] == "1", row[2]};
    }
    if (changed(TokensFile(), tokensSeen_)) {
        tokens_.clear();
        for (const auto& row : ReadTable(TokensFile(), 2))
            tokens_[row[0]] = row[1];
    }
}

void FileHostStore::WriteUsers() {
    std::string content;
    for (const auto& [name, account] : accounts_)
        content += name + '\t' + std::to_string(account.password.iterations) + '\t' +
                   account.password.salt + '\t' + account.password.hash + '\n';
    WriteTable(UsersFile(), content);
}

void FileHostStore::WriteLinks() {
    std::string content;
    for (const auto& [id, link] : links_)
        content += id + '\t' + (link.available ? "1" : "0") + '\t' + link.name + '\n';
    WriteTable(LinksFile(), content);
}

void FileHostStore::WriteTokens() {
    std::string content;
    for (const auto& [token, name] : tokens_)
        content += token + '\t' + name + '\n';
    WriteTable(TokensFile(), content);
}

void FileHostStore::AddUser(const std::string& name, const std::string& password, int iterations) {
    if (name.empty() || HasControlCharacter(name))
        throw StoreError("an account name must be non-empty and hold no control characters");
    if (password.empty())
        throw StoreError("the password must not be empty");
    if (iterations < kMinPasswordIterations || iterations > kMaxPasswordIterations)
        throw StoreError("iterations must be between " + std::to_string(kMinPasswordIterations) +
                         " and " + std::to_string(kMaxPasswordIterations));
    const PasswordRecord record = HashPassword(password, iterations);
    StoreLock lock(dir_);
    std::lock_guard guard(mutex_);
    Refresh();
    accounts_[name] = Account{record};
    WriteUsers();
}

std::optional<std::string> FileHostStore::Login(const std::string& name,
                                                const std::string& password) {
    PasswordRecord record;
    {
        std::lock_guard guard(mutex_);
        Refresh();
        const auto found = accounts_.find(name);
        if (found == accounts_.end())
            return std::nullopt;
        record = found->second.password;
    }
    if (!VerifyPassword(record, password))
        return std::nullopt;
    StoreLock lock(dir_);
    std::lock_guard guard(mutex_);
    Refresh();
    for (const auto& [token, owner] : tokens_)
        if (owner == name)
            return token;
    const std::string token = RandomHex(kTokenBytes);
    tokens_[token] = name;
    WriteTokens();
    return token;
}

bool FileHostStore::IsToken(const std::string& token) {
    std::lock_guard guard(mutex_);
    Refresh();
    return !token.empty() && tokens_.count(token) > 0;
}

std::string FileHostStore::AddFile(const fs::path& file, bool hardLink) {
    std::error_code error;
    if (!fs::is_regular_file(file, error))
        throw StoreError("not a file: " + file.string());
    const std::string name = file.filename().string();
    if (!IsPlainFileName(name))
        throw StoreError("unusable file name: " + file.string());
    StoreLock lock(dir_);
    std::lock_guard guard(mutex_);
    Refresh();
    std::string id;
    do
        id = NewId();
    while (links_.count(id) > 0 || fs::exists(dir_ / "files" / id));
    const fs::path folder = dir_ / "files" / id;
    fs::create_directories(folder);
    const fs::path target = folder / name;
    bool stored = false;
    if (hardLink) {
        fs::create_hard_link(file, target, error);
        stored = !error;
    }
    if (!stored) {
        fs::copy_file(file, target, fs::copy_options::overwrite_existing, error);
        if (error) {
            fs::remove_all(folder);
            throw StoreError("cannot store " + file.string() + ": " + error.message());
        }
    }
    links_[id] = Link{true, name};
    WriteLinks();
    return id;
}

void FileHostStore::Disable(const std::string& id) {
    StoreLock lock(dir_);
    std::lock_guard guard(mutex_);
    Refresh();
    const auto found = links_.find(id);
    if (found == links_.end())
        throw StoreError("unknown id: " + id);
    found->second.available = false;
    WriteLinks();
}

std::optional<StoredFile> FileHostStore::Find(const std::string& id) {
    std::lock_guard guard(mutex_);
    Refresh();
    const auto found = links_.find(id);
    if (found == links_.end())
        return std::nullopt;
    return StoredFile{id, found->second.name, found->second.available,
                      dir_ / "files" / id / found->second.name};
}

void FileHostStore::AppendReport(const std::string& line) {
    const int fd = ::open(ReportsFile().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw StoreError("cannot open " + ReportsFile().string());
    int locked;
    while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    struct stat before {};
    bool whole = locked == 0 && ::fstat(fd, &before) == 0;
    if (whole) {
        ssize_t written;
        do
            written = ::write(fd, line.data(), line.size());
        while (written < 0 && errno == EINTR);
        whole = written == static_cast<ssize_t>(line.size());
        // A piece of a line (a full disk) would join the next report's line: take it back.
        if (!whole && written > 0 && ::ftruncate(fd, before.st_size) != 0)
            whole = false;
    }
    ::close(fd);
    if (!whole)
        throw StoreError("cannot write " + ReportsFile().string());
}

std::vector<std::string> FileHostStore::ReportLines(size_t& skipped) const {
    std::vector<std::string> lines;
    skipped = 0;
    const int fd = ::open(ReportsFile().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return lines;
        throw StoreError("cannot open " + ReportsFile().string());
    }
    while (::flock(fd, LOCK_SH) != 0 && errno == EINTR) {
    }
    // Reads line by line without holding more than one line of the longest length at a time.
    std::string line;
    bool tooLong = false;
    const auto finish = [&] {
        if (!tooLong && IsReportLine(line))
            lines.push_back(std::move(line));
        else
            ++skipped;
        line.clear();
        tooLong = false;
    };
    std::vector<char> buffer(kReportReadChunk);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            throw StoreError("cannot read " + ReportsFile().string());
        }
        if (got == 0)
            break;
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] == '\n')
                finish();
            else if (line.size() < MaxReportLine())
                line.push_back(buffer[i]);
            else
                tooLong = true;
        }
    }
    ::close(fd);
    // A last line without its line feed was never written whole.
    if (!line.empty() || tooLong)
        ++skipped;
    return lines;
}

} // namespace filehost
