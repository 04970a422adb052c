// What a volume's name says: whether it is one of a set's volumes, the first of them, and which
// naming the set follows. The decompressor and the extractor both decide by these.

#include <gtest/gtest.h>

#include "rar/VolumeNaming.h"

namespace {

TEST(VolumeNaming, WhatAVolumeNameSays) {
    struct Case {
        const char* path;
        bool volume;
        bool first;
        bool newNaming;
    };
    const Case cases[] = {
        {"/v/movie.part1.rar", true, true, true},
        {"/v/Movie.Part01.RAR", true, true, true},
        {"/v/movie.part0001.rar", true, true, true},
        {"/v/movie.part2.rar", true, false, true},
        {"/v/movie.part10.rar", true, false, true},
        {"/v/movie.part11.rar", true, false, true},
        {"/v/movie.part0.rar", true, false, true},
        {"/v/movie.part100000000000000000001.rar", true, false, true}, // more than 64 bits
        {"/v/movie.rar", true, true, false},
        {"/v/movie.part.rar", true, true, false},
        {"/v/part1.rar", true, true, false},
        {"/v/movie.r00", true, false, false},
        {"/v/MOVIE.R00", true, false, false},
        {"/v/movie.z99", true, false, false},
        {"/v/movie.q00", false, false, false},
        {"/v/movie.r0", false, false, false},
        {"/v/movie.r000", false, false, false},
        {"/v/movie.avi", false, false, false},
        {"/v/movie", false, false, false},
        // Only the file name counts, never a folder before it.
        {"/v.part1.rar/movie", false, false, false},
        {"/v.rar/movie.avi", false, false, false},
        {"/v.part2.rar/movie.rar", true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(rar::IsVolumeName(c.path), c.volume);
        EXPECT_EQ(rar::IsFirstVolumeName(c.path), c.first);
        EXPECT_EQ(rar::LooksLikeNewNaming(c.path), c.newNaming);
    }
}

} // namespace
