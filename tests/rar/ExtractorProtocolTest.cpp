// The progress file as the client writes it and as the extractor reads it: every sequence of
// client writes reads back as its last value, and no text overflows the reader.

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

#include "rar/ExtractorProtocol.h"

using extractor::ProgressReading;

namespace {

// The file's bytes after the client wrote `values` in order, starting without a file: each write
// overwrites from the first byte and never shortens the file.
std::string FileAfter(const std::vector<std::int64_t>& values) {
    std::string file;
    bool exists = false;
    for (std::int64_t value : values) {
        const std::string text = extractor::ProgressFileText(value, exists);
        file.resize(std::max(file.size(), text.size()));
        file.replace(0, text.size(), text);
        exists = true;
    }
    return file.substr(0, extractor::kMaxProgressText);
}

TEST(ExtractorProtocol, ClientWritesReadBackAsTheLastValue) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> values;
        ProgressReading reading;
        std::int64_t count;
    };
    const Case cases[] = {
        {"created", {1234}, ProgressReading::Count, 1234},
        {"zero over a count", {1234, 0}, ProgressReading::Count, 0},
        {"short over long", {1234, 123456789012345, 7}, ProgressReading::Count, 7},
        {"stop over a count", {1234, extractor::kStopValue}, ProgressReading::Stop, 0},
        {"stop creates the file", {extractor::kStopValue}, ProgressReading::Stop, 0},
        {"count after stop", {1234, extractor::kStopValue, 99}, ProgressReading::Count, 99},
        {"largest count", {0, 999999999999999999}, ProgressReading::Count, 999999999999999999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::int64_t count = 0;
        EXPECT_EQ(extractor::ReadProgressText(FileAfter(c.values), count), c.reading);
        EXPECT_EQ(count, c.count);
    }
    EXPECT_EQ(FileAfter({1234, extractor::kStopValue}),
              std::string("OK") + std::string(extractor::kProgressPadding, '\0'));
}

TEST(ExtractorProtocol, OtherTexts) {
    struct Case {
        std::string text;
        ProgressReading reading;
        std::int64_t count;
    };
    const Case cases[] = {
        {"", ProgressReading::NoCount, 0},
        {"abc", ProgressReading::NoCount, 0},
        {"-", ProgressReading::NoCount, 0},
        {"O", ProgressReading::NoCount, 0},
        {"-5", ProgressReading::Stop, 0},
        {"12ab", ProgressReading::Count, 12},
        // Digits past the eighteenth are not read: the count cannot overflow.
        {"99999999999999999999999999", ProgressReading::Count, 999999999999999999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::int64_t count = 0;
        EXPECT_EQ(extractor::ReadProgressText(c.text, count), c.reading);
        EXPECT_EQ(count, c.count);
    }
}

} // namespace
