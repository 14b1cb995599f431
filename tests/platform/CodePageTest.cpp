#include "platform/CodePage.h"

#include <QString>

#include <gtest/gtest.h>

using namespace platform;

TEST(CodePage, KoreanRoundTripsThroughCp949)
{
    const std::string ansi("\xb9\xe6\xc0\xe5"); // "방장" in CP949
    EXPECT_EQ(Utf8ToAnsi("방장"), ansi);
    EXPECT_EQ(AnsiToUtf8(ansi), "방장");
    EXPECT_EQ(AnsiToQString(ansi), QStringLiteral("방장"));
    EXPECT_EQ(QStringToAnsi(QStringLiteral("손님1")), Utf8ToAnsi("손님1"));
    EXPECT_EQ(AnsiLength("손님1"), 5u);
    EXPECT_EQ(AnsiLength("abc"), 3u);
}

TEST(CodePage, BadBytesNeverStopTheConversion)
{
    // A lead byte without its trail byte, at the end and in the middle.
    EXPECT_EQ(AnsiToUtf8(std::string("a\xb9")), "a\xEF\xBF\xBD");
    EXPECT_EQ(AnsiToUtf8(std::string("\xff" "b")), "\xEF\xBF\xBD" "b");
    // Invalid UTF-8 and a character CP949 cannot hold.
    EXPECT_EQ(Utf8ToAnsi(std::string("x\xC3")), "x?");
    EXPECT_EQ(Utf8ToAnsi("\U0001F600").size(), 1u);
    EXPECT_EQ(AnsiToUtf8(std::string()), std::string());
}

TEST(CodePage, BufferConversionStopsAtWholeCharacters)
{
    char out[6];
    // "가나다" is 6 CP949 bytes; only two syllables fit beside the zero.
    EXPECT_EQ(Utf8ToAnsiBuffer("가나다", out, sizeof out), 4u);
    EXPECT_EQ(std::string(out), Utf8ToAnsi("가나"));
    EXPECT_EQ(Utf8ToAnsiBuffer("ab", out, sizeof out), 2u);
    EXPECT_STREQ(out, "ab");
    EXPECT_EQ(Utf8ToAnsiBuffer("abc", out, 1), 0u);
    EXPECT_STREQ(out, "");
}
