#pragma once

// What the client's streaming decompressor (TDecompressor) and the streaming extractor it starts
// (src/extractor, bin/unrar/unrar) agree on. Both include this file; it lives here, in the lowest
// folder both use, so that the engine speaks the protocol without linking any of the extractor.
// Plain C++, header only.
//
// The client starts kExtractorProgramName in its unrar folder once per playback and from then on
// only writes the progress file kProgressFileName beside it; it never waits for the program and
// reads nothing back. The progress file holds one value, the downloader's count of leading bytes
// of the volume it is downloading known complete:
//  - when the file is missing it is created holding the decimal text and CR LF;
//  - otherwise it is overwritten from its first byte, never shortened, with the decimal text
//    (kStopText for kStopValue) followed by kProgressPadding zero bytes.
// The extractor reads at most kMaxProgressText bytes of it and takes kStopText or a negative
// number for "the client ended the playback" (see the rules at the top of src/extractor/main.cpp
// for what the counts mean). It ends with one of the exit codes below.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace extractor {

// The program's file name (the build names it so) and its progress file, in one folder.
inline constexpr char kExtractorProgramName[] = "unrar";
inline constexpr char kProgressFileName[] = "unrar.txt";

// The value the client writes when it ends the playback, and its text over an existing file.
inline constexpr std::int64_t kStopValue = -1;
inline constexpr char kStopText[] = "OK";
// Zero bytes after the text when the file is overwritten.
inline constexpr std::size_t kProgressPadding = 15;
// The end of the text when the file is created.
inline constexpr char kProgressLineEnd[] = "\r\n";

// Bytes of the progress file the extractor reads; more is never looked at.
inline constexpr std::size_t kMaxProgressText = 64;
// Digits of a count the extractor reads; further digits are ignored (a count stays in range).
inline constexpr std::size_t kMaxProgressDigits = 18;
static_assert(sizeof "-9223372036854775808" - 1 + kProgressPadding <= kMaxProgressText,
              "every text the client writes is read whole");

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitWarning = 1;      // some entries were refused or skipped
inline constexpr int kExitFatal = 2;        // the archive could not be extracted
inline constexpr int kExitCrcError = 3;     // a checksum did not match (the file is kept)
inline constexpr int kExitBadArguments = 7; // the command line is not one the client writes
inline constexpr int kExitBadPassword = 11; // a password is missing or wrong
inline constexpr int kExitTimeout = 12;     // nothing changed for the idle timeout
inline constexpr int kExitStopped = 255;    // the client ended the playback ("OK")

// The bytes the client writes for `value`: `fileExists` tells whether the progress file is
// there already (see above).
inline std::string ProgressFileText(std::int64_t value, bool fileExists) {
    if (!fileExists)
        return std::to_string(value) + kProgressLineEnd;
    std::string text = value == kStopValue ? std::string(kStopText) : std::to_string(value);
    text.append(kProgressPadding, '\0');
    return text;
}

enum class ProgressReading {
    Count,   // a count (0 or more)
    Stop,    // kStopText or a negative number: the client ended the playback
    NoCount, // no number (an empty file is one being created)
};

// Reads the progress file's text (its first kMaxProgressText bytes). `count` is set for Count.
inline ProgressReading ReadProgressText(std::string_view text, std::int64_t& count) {
    if (text.starts_with(kStopText))
        return ProgressReading::Stop;
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative)
        ++i;
    const std::size_t digitsStart = i;
    std::int64_t number = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' &&
           i - digitsStart < kMaxProgressDigits)
        number = number * 10 + (text[i++] - '0');
    if (i == digitsStart)
        return ProgressReading::NoCount;
    if (negative)
        return ProgressReading::Stop;
    count = number;
    return ProgressReading::Count;
}

} // namespace extractor
