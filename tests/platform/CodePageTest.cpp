#include "platform/CodePage.h"

#include <QString>

#include <cstring>

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

TEST(CodePage, BufferConversionNeverWritesPastItsEnd)
{
    // The caller's buffer is the first `size` bytes; the rest must stay as
    // it was, whatever follows the text that filled the buffer.
    struct Case {
        std::string utf8;
        std::size_t size;
        std::string expected;
    };
    const Case cases[] = {
        {"ab\xC3", 3, "ab"},                  // full, then a cut-off sequence
        {"ab\xFF" "cd", 3, "ab"},             // full, then an invalid byte
        {"\xEA\xB0\x80\xFF", 3, Utf8ToAnsi("가")}, // a syllable fills it
        {"a\xC3", 3, "a?"},                   // the '?' still fits exactly
        {"\xFF\xFF\xFF\xFF", 3, "??"},
    };
    for (const Case &c : cases) {
        char buffer[16];
        std::memset(buffer, 'Z', sizeof buffer);
        const std::size_t used = Utf8ToAnsiBuffer(c.utf8, buffer, c.size);
        EXPECT_EQ(used, c.expected.size()) << c.utf8;
        EXPECT_EQ(std::string(buffer), c.expected) << c.utf8;
        for (std::size_t i = c.size; i < sizeof buffer; ++i)
            EXPECT_EQ(buffer[i], 'Z') << "byte " << i << " written for " << c.utf8;
    }
}
