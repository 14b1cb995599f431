#include "CommandLineArgs.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

CommandLineArgs Parsed(std::string line, bool *ok = nullptr)
{
    CommandLineArgs args;
    args.Store(line.data());
    const bool result = args.Parse();
    if (ok)
        *ok = result;
    return args;
}

} // namespace

TEST(CommandLineArgs, BroadcasterLineAndDefaults)
{
    bool ok = false;
    CommandLineArgs a = Parsed("-start 1 -lport 7000 -elport 7002", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(a.start, 1);
    EXPECT_EQ(a.lport, 7000);
    EXPECT_EQ(a.elport, 7002);
    EXPECT_EQ(a.cport, 64002);
    EXPECT_EQ(a.ceport, 8080);
    EXPECT_STREQ(a.curl, "");
    EXPECT_STREQ(a.ceurl, "");
    EXPECT_STREQ(a.onairrul, "");
    EXPECT_STREQ(a.offairurl, "");
    EXPECT_STREQ(a.line, "-start 1 -lport 7000 -elport 7002");
}

TEST(CommandLineArgs, LowerCasesNamesAndValues)
{
    CommandLineArgs a = Parsed("-START 2 -CURL Host.Example -CPORT 5000 -OnAirRul HTTP://X/On");
    EXPECT_EQ(a.start, 2);
    EXPECT_STREQ(a.curl, "host.example");
    EXPECT_EQ(a.cport, 5000);
    EXPECT_STREQ(a.onairrul, "http://x/on");
}

TEST(CommandLineArgs, NoHyphenIsRejectedAnyHyphenAccepted)
{
    bool ok = true;
    Parsed("start 1", &ok);
    EXPECT_FALSE(ok);
    Parsed("", &ok);
    EXPECT_FALSE(ok);
    CommandLineArgs a = Parsed("-", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(a.start, 0);
}

TEST(CommandLineArgs, HyphenInsideValueStartsUnknownOption)
{
    CommandLineArgs a = Parsed("-curl a-b -cport 5");
    EXPECT_STREQ(a.curl, "a-b");
    EXPECT_EQ(a.cport, 5);
    // A value that is itself an option name: stored, then parsed as an option.
    CommandLineArgs b = Parsed("-tag -start 2");
    EXPECT_STREQ(b.tag, "-start");
    EXPECT_EQ(b.start, 2);
}

TEST(CommandLineArgs, NumbersFollowAtoiModulo65536)
{
    EXPECT_EQ(Parsed("-lport 70000").lport, 4464);
    EXPECT_EQ(Parsed("-lport 12abc").lport, 12);
    EXPECT_EQ(Parsed("-lport abc").lport, 0);
    EXPECT_EQ(Parsed("-lport 65536").lport, 0);
    EXPECT_EQ(Parsed("-start +3").start, 3);
    // An empty value (two blanks) converts to 0, like atoi("").
    EXPECT_EQ(Parsed("-elport  9").elport, 0);
    // Far beyond int: the library saturates; never undefined behaviour.
    EXPECT_EQ(Parsed("-lport 99999999999999999999999999").lport, 0xFFFF);
}

TEST(CommandLineArgs, LongValuesAndLinesAreCut)
{
    const std::string value(200, 'v');
    CommandLineArgs a = Parsed("-curl " + value);
    EXPECT_EQ(std::string(a.curl), std::string(127, 'v'));

    std::string line = "-start 1 -ceurl " + std::string(300, 'h');
    CommandLineArgs b = Parsed(line);
    EXPECT_EQ(std::string(b.line).size(), 256u);
    EXPECT_EQ(std::string(b.ceurl), std::string(127, 'h'));
    // An option pushed beyond 256 characters is never seen.
    CommandLineArgs c = Parsed("-tag " + std::string(260, 't') + " -start 1");
    EXPECT_EQ(c.start, 0);
}

TEST(CommandLineArgs, RepeatedOptionKeepsLastAndTrailingNameIgnored)
{
    CommandLineArgs a = Parsed("-start 1 -start 2 -cport");
    EXPECT_EQ(a.start, 2);
    EXPECT_EQ(a.cport, 64002);
    EXPECT_EQ(Parsed("-unknown 5 -ceport 81").ceport, 81);
}

TEST(CommandLineArgs, RandomBytesNeverCrash)
{
    std::mt19937 rng(1234);
    for (int i = 0; i < 5000; ++i) {
        std::string line(rng() % 400, '\0');
        for (char &c : line) {
            const unsigned r = rng() % 8;
            c = r < 3 ? '-' : r < 5 ? ' ' : static_cast<char>(1 + rng() % 255);
        }
        CommandLineArgs a = Parsed(line);
        EXPECT_LE(std::string(a.line).size(), 256u);
        EXPECT_LT(std::string(a.curl).size(), 128u);
    }
}

TEST(CommandLineArgs, RelayKeepsItsCaseAndTheLineKeepsNoKey)
{
    struct Case {
        const char *options;
        const char *relay;
        const char *line;
    };
    const Case cases[] = {
        {"-start 1 -RELAY rtmp://Host/Live/KeY7 -lport 5", "rtmp://Host/Live/KeY7",
         "-start 1 -relay rtmp://host/live/**** -lport 5"},
        {"-relay rtmp://a/b/First -relay rtmp://a/b/Last", "rtmp://a/b/Last", "-relay rtmp://a/b/**** -relay rtmp://a/b/****"},
        {"-start 1 -tag x-relay rtmp://a/b/c", "", "-start 1 -tag x-relay rtmp://a/b/c"},
        {"-relay  -start 1", "", "-relay  -start 1"},
    };
    for (const Case &c : cases) {
        std::string options = c.options;
        CommandLineArgs a;
        a.TakeRelay(options);
        a.Store(options.data());
        EXPECT_TRUE(a.Parse()) << c.options;
        EXPECT_EQ(a.relay, c.relay) << c.options;
        EXPECT_STREQ(a.line, c.line) << c.options;
    }
}
