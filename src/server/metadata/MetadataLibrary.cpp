#include "server/metadata/MetadataLibrary.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view FolderPrefix = "tt";
constexpr std::string_view InfoFileName = "info.txt";
constexpr std::string_view PosterStem = "poster";
constexpr std::string_view PosterExtensions[] = {".jpg", ".jpeg", ".png", ".gif"};

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lower(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), AsciiLower);
    return result;
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) {
        return static_cast<unsigned char>(c) <= ' ';
    };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The content of a small file, or nothing when it is missing, too large or unreadable.
bool ReadSmallFile(const fs::path& path, std::uintmax_t limit, std::string& content) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error || size > limit)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    content = buffer.str();
    return content.size() <= limit;
}

void ReadInfo(const std::string& text, MetadataTitle& title) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string key = Lower(Trim(std::string_view(line).substr(0, colon)));
        const std::string value(Trim(std::string_view(line).substr(colon + 1)));
        if (key == "title")
            title.title = value;
        else if (key == "year")
            title.year = value;
        else if (key == "plot")
            title.plot = value;
    }
}

void FindPoster(const fs::path& folder, MetadataTitle& title) {
    for (const std::string_view extension : PosterExtensions) {
        const fs::path candidate = folder / (std::string(PosterStem) + std::string(extension));
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) {
            title.poster = candidate;
            title.posterExtension = extension;
            return;
        }
    }
}

} // namespace

bool IsTitleId(std::string_view text) {
    return !text.empty() && text.size() <= MetadataLibrary::MaxIdLength &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

MetadataLibrary MetadataLibrary::Load(const fs::path& dir, std::vector<std::string>& warnings) {
    std::error_code error;
    if (!fs::is_directory(dir, error))
        throw std::runtime_error("not a folder: " + dir.string());
    MetadataLibrary library;
    fs::directory_iterator entries(dir, error);
    if (error)
        throw std::runtime_error("cannot read " + dir.string() + ": " + error.message());
    for (const fs::directory_entry& entry : entries) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_directory(error) || !name.starts_with(FolderPrefix))
            continue;
        const std::string id = name.substr(FolderPrefix.size());
        if (!IsTitleId(id))
            continue;
        if (library.titles_.size() >= MaxTitles) {
            warnings.push_back("more than " + std::to_string(MaxTitles) +
                               " titles; the rest skipped");
            break;
        }
        std::string info;
        if (!ReadSmallFile(entry.path() / InfoFileName, MaxInfoFileSize, info)) {
            warnings.push_back("skipped " + name + ": no readable " + std::string(InfoFileName));
            continue;
        }
        MetadataTitle title;
        title.id = id;
        ReadInfo(info, title);
        if (title.title.empty())
            title.title = name;
        FindPoster(entry.path(), title);
        library.titles_.emplace(id, std::move(title));
    }
    return library;
}

const MetadataTitle* MetadataLibrary::Find(std::string_view id) const {
    const auto found = titles_.find(id);
    return found == titles_.end() ? nullptr : &found->second;
}

std::vector<const MetadataTitle*> MetadataLibrary::Search(std::string_view words,
                                                          std::size_t max) const {
    std::vector<std::string> needles;
    std::istringstream split{std::string(words)};
    for (std::string word; split >> word;)
        needles.push_back(Lower(word));
    std::vector<const MetadataTitle*> exact;
    std::vector<const MetadataTitle*> partial;
    if (needles.empty())
        return exact;
    std::string whole;
    for (const std::string& needle : needles)
        whole += (whole.empty() ? "" : " ") + needle;
    for (const auto& [id, title] : titles_) {
        const std::string haystack = Lower(title.title);
        const bool all = std::all_of(needles.begin(), needles.end(), [&](const std::string& n) {
            return haystack.find(n) != std::string::npos;
        });
        if (!all)
            continue;
        (haystack == whole ? exact : partial).push_back(&title);
    }
    exact.insert(exact.end(), partial.begin(), partial.end());
    if (exact.size() > max)
        exact.resize(max);
    return exact;
}

std::vector<const MetadataTitle*> MetadataLibrary::Related(std::string_view id,
                                                           std::size_t count) const {
    std::vector<const MetadataTitle*> related;
    auto next = titles_.upper_bound(id);
    while (related.size() < count && related.size() + 1 < titles_.size()) {
        if (next == titles_.end())
            next = titles_.begin();
        if (next->first != id)
            related.push_back(&next->second);
        ++next;
    }
    return related;
}
