// Entry names refused before anything is written, by the extractor and the decompressor alike.

#include "rar/EntryName.h"

#include <gtest/gtest.h>

namespace {

TEST(EntryName, Names) {
    struct Case {
        const char* name;
        bool safe;
    };
    const Case cases[] = {
        {"movie.avi", true},
        {"folder/sub/movie.avi", true},
        {"a/./b", true},
        {"..", false},
        {"../evil", false},
        {"a/../../evil", false},
        {"/etc/passwd", false},
        {"C:/windows/x", false},
        {"c:x", false},
        {"a/b:stream", false},
        {"CON", false},
        {"folder/nul.txt", false},
        {"com1", false},
        {"LPT9.doc", false},
        {"con.d/x", false},
        {"console.txt", true},
        {"com10", true},
        {"a\\b", false},
        {"", false},
        {"a\nb", false},
    };
    for (const Case& c : cases) {
        std::string why;
        EXPECT_EQ(rar::IsSafeEntryName(c.name, why), c.safe) << c.name << ": " << why;
    }
    EXPECT_EQ(rar::NormalizedEntryName("a//./b/"), "a/b");
}

} // namespace
