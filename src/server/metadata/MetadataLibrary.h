#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// One title of the site: the folder "tt<ID>" with an info file and, optionally, a poster.
struct MetadataTitle {
    std::string id; // the digits after "tt"
    std::string title;
    std::string year;
    std::string plot;
    std::filesystem::path poster; // empty when the title has no poster
    std::string posterExtension;  // ".jpg", ".jpeg", ".png" or ".gif"
};

// The titles of the site, read once from a folder that holds one sub-folder per title:
//   tt0000001/info.txt    "title: ...", "year: ...", "plot: ..." lines (UTF-8)
//   tt0000001/poster.jpg  (or .jpeg, .png, .gif)
// Sub-folders of any other name are skipped.
class MetadataLibrary {
public:
    static constexpr std::size_t MaxIdLength = 16;
    static constexpr std::uintmax_t MaxInfoFileSize = 64 * 1024;
    static constexpr std::uintmax_t MaxPosterSize = 16 * 1024 * 1024;
    static constexpr std::size_t MaxTitles = 100000;
    static constexpr std::size_t MaxSearchResults = 200;
    // Other titles a title page links to.
    static constexpr std::size_t RelatedTitles = 3;

    // Reads `dir`; raises std::runtime_error when it is not a readable folder. Titles that
    // cannot be read are skipped with a line in `warnings`.
    static MetadataLibrary Load(const std::filesystem::path& dir,
                                std::vector<std::string>& warnings);

    const MetadataTitle* Find(std::string_view id) const;

    // Titles holding every blank-separated word of `words` (ASCII letter case ignored): exact
    // title matches first, then the others, each group in id order; at most `max`.
    std::vector<const MetadataTitle*> Search(std::string_view words, std::size_t max) const;

    // The `count` titles that follow `id` in id order, going round to the first after the last;
    // never the title itself, so fewer in a library of fewer titles. The same on every call.
    std::vector<const MetadataTitle*> Related(std::string_view id, std::size_t count) const;

    std::size_t Size() const { return titles_.size(); }

private:
    std::map<std::string, MetadataTitle, std::less<>> titles_;
};

// True for 1 to MaxIdLength ASCII digits and nothing else.
bool IsTitleId(std::string_view text);
