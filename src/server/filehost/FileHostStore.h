#pragma once

#include "server/filehost/PasswordHash.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace filehost {

// An error of the store that the command line reports as it stands.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A stored file.
struct StoredFile {
    std::string id;
    std::string name;
    bool available = true;
    std::filesystem::path path;
};

// The file host's data folder:
//   users.tsv   name, iterations, salt, hash (one account a line)
//   links.tsv   id, 1 or 0 (available), file name
//   tokens.tsv  login token, account name
//   reports.tsv abuse reports: time, address, links, reason, contact (see AbuseReport.h)
//   files/<id>/<name>  the stored files
// The command line changes it while a server may be running: every change rewrites a file as a
// whole through a temporary file and a rename, under an exclusive lock on ".lock"; the server
// re-reads a file when its modification time or size changed. Reports are only ever appended,
// one whole line by one write under a lock of the file itself.
class FileHostStore {
public:
    explicit FileHostStore(std::filesystem::path dir);

    const std::filesystem::path& Dir() const { return dir_; }

    // Creates the account or sets a new password for it. Names are non-empty and hold no tab,
    // line break or other control character.
    void AddUser(const std::string& name, const std::string& password,
                 int iterations = kDefaultPasswordIterations);
    // The account's login token when the password is right (created at the first login and kept).
    std::optional<std::string> Login(const std::string& name, const std::string& password);
    // True for a token some login handed out.
    bool IsToken(const std::string& token);

    // Copies (or, with `hardLink`, links) the file into the store; its name is the file's own
    // name. Returns the new 8-character id.
    std::string AddFile(const std::filesystem::path& file, bool hardLink = false);
    // Makes the id unavailable. Raises StoreError for an unknown id.
    void Disable(const std::string& id);
    // The file of an id, available or not.
    std::optional<StoredFile> Find(const std::string& id);

    // Appends one line to reports.tsv (created when missing) with a single write under an
    // exclusive lock of the file, so that reports written at once never mix. Raises StoreError
    // when the line cannot be written whole.
    void AppendReport(const std::string& line);
    // The lines of reports.tsv that are report lines (IsReportLine), in order, without their line
    // feeds; `skipped` counts the others. Nothing when there is no report yet.
    std::vector<std::string> ReportLines(size_t& skipped) const;

private:
    struct Account {
        PasswordRecord password;
    };
    struct Link {
        bool available = true;
        std::string name;
    };
    // What tells a rewritten file: every rewrite renames a new file into place, so its inode
    // changes even when its size and (coarse) modification time do not.
    struct Watched {
        uint64_t inode = 0;
        int64_t modifiedNs = -1;
        int64_t size = -1;
        bool operator==(const Watched&) const = default;
    };

    std::filesystem::path dir_;
    std::mutex mutex_;
    std::map<std::string, Account> accounts_;
    std::map<std::string, Link> links_;
    std::map<std::string, std::string> tokens_; // token -> account
    Watched usersSeen_, linksSeen_, tokensSeen_;

    std::filesystem::path UsersFile() const { return dir_ / "users.tsv"; }
    std::filesystem::path LinksFile() const { return dir_ / "links.tsv"; }
    std::filesystem::path TokensFile() const { return dir_ / "tokens.tsv"; }
    std::filesystem::path ReportsFile() const { return dir_ / "reports.tsv"; }

    void Refresh(); // mutex_ held
    void WriteUsers();
    void WriteLinks();
    void WriteTokens();
};

// A name for a stored file or an account: non-empty, no control characters, no "/" for files.
bool IsPlainFileName(const std::string& name);

// The default data folder: $XDG_DATA_HOME/tavilon-filehost, else ~/.local/share/tavilon-filehost.
std::filesystem::path DefaultStoreDir();

} // namespace filehost
