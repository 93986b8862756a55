#include <gtest/gtest.h>

#include <string>

#include "platform/sys/path.h"

using platform::HostPath;

TEST(HostPath, TurnsBackslashesIntoSlashes)
{
    EXPECT_EQ(HostPath("se\\bgm_01.mp3"), "se/bgm_01.mp3");
    EXPECT_EQ(HostPath("music.mp3"), "music.mp3");
    // Relative stays relative: it is opened from the current directory.
    EXPECT_EQ(HostPath(".\\a\\b.ogg"), "./a/b.ogg");
}

TEST(HostPath, ConvertsShiftJisWithoutSplittingOnATrailBackslash)
{
    // 表 is 0x95 0x5C: its second byte is a backslash and must not become a slash.
    EXPECT_EQ(HostPath("\x95\x5c\\\x89\xb9\x8a\x79.mp3"), "表/音楽.mp3");
    // Half-width katakana and a tilde, which SHIFT_JIS would map elsewhere.
    EXPECT_EQ(HostPath("\xb1~.wav"), "ｱ~.wav");
}

TEST(HostPath, RefusesEmptyAndInvalidNames)
{
    EXPECT_EQ(HostPath(nullptr), "");
    EXPECT_EQ(HostPath(""), "");
    // A lead byte with no trail byte.
    EXPECT_EQ(HostPath("abc\x95"), "");
    EXPECT_EQ(HostPath("\x81\x20"), "");
}
