// The web requests against the repository's stand-in service site.
#include "CLogWriteThread.h"
#include "CommandLineArgs.h"
#include "ServiceSite.h"
#include "TestDir.h"
#include "WebQueries.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

class WebQueries : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(site.Port(), 0);
        setenv("VELMOR_SERVICE_URL", site.BaseUrl().c_str(), 1);
    }
    void TearDown() override { SetAppArgs(CommandLineArgs()); }

    static void UseLine(std::string line)
    {
        CommandLineArgs args;
        args.Store(line.data());
        args.Parse();
        SetAppArgs(args);
    }

    TestDir dir{"web"};
    ServiceSite site{dir.path()};
};

} // namespace

TEST(ParseWebReply, FramingRules)
{
    EXPECT_EQ(ParseWebReply("<start>1.2.3.4<end>"), "1.2.3.4");
    EXPECT_EQ(ParseWebReply("<start><end>"), "");
    EXPECT_EQ(ParseWebReply("1.2.3.4"), "DataError");
    EXPECT_EQ(ParseWebReply("<start>1.2.3.4"), "DataError");
    EXPECT_EQ(ParseWebReply("1.2.3.4<end>"), "DataError");
    EXPECT_EQ(ParseWebReply("<START>x<END>"), "DataError");
    EXPECT_EQ(ParseWebReply("<start><end"), "DataError");
    EXPECT_EQ(ParseWebReply(""), "DataError");
    EXPECT_EQ(ParseWebReply(" <start>x<end>"), "DataError");
    EXPECT_EQ(ParseWebReply("<start>a<end>b<end>"), "a<end>b");
}

TEST_F(WebQueries, OnAirUrlIsRequestedAsStoredInLowerCase)
{
    UseLine("-start 1 -onairrul " + site.BaseUrl() + "/OnAir.JSP?Room=AB");
    SendOnAirNotice();
    ASSERT_EQ(site.RequestsFor("/onair.jsp").size(), 1u);
    EXPECT_EQ(site.RequestsFor("/onair.jsp")[0].query, "room=ab");
}

TEST_F(WebQueries, EmptyNoticeUrlsSendNothing)
{
    UseLine("-start 1");
    SendOnAirNotice();
    SendOffAirNotice();
    EXPECT_TRUE(site.Requests().empty());
    UseLine("-start 1 -offairurl " + site.BaseUrl() + "/off.jsp");
    SendOffAirNotice();
    EXPECT_EQ(site.RequestsFor("/off.jsp").size(), 1u);
}

TEST_F(WebQueries, AdvertisementReplies)
{
    std::string clip;
    site.Answer("/ad/callad.jsp", "<start>none<end>\r\n");
    EXPECT_FALSE(QueryAdvertisement(&clip));
    site.Answer("/ad/callad.jsp", "<start><end>\r\n");
    EXPECT_FALSE(QueryAdvertisement(&clip));
    site.Answer("/ad/callad.jsp", "http://127.0.0.1/clip.asf\r\n");
    EXPECT_FALSE(QueryAdvertisement(&clip));
    site.Answer("/ad/callad.jsp", "oops", 404);
    EXPECT_FALSE(QueryAdvertisement(&clip));
    EXPECT_TRUE(clip.empty());
    site.Answer("/ad/callad.jsp", "<start>http://127.0.0.1/clip.asf<end>\r\nsecond line\r\n");
    EXPECT_TRUE(QueryAdvertisement(&clip));
    EXPECT_EQ(clip, "http://127.0.0.1/clip.asf");
}

TEST_F(WebQueries, NoSiteMeansNoAdvertisementAndNoWait)
{
    setenv("VELMOR_SERVICE_URL", "http://127.0.0.1:1", 1);
    std::string clip;
    EXPECT_FALSE(QueryAdvertisement(&clip));
}

TEST_F(WebQueries, StartupNoticeCarriesRoleAndAddresses)
{
    std::atomic<int> notices{0};
    {
        CLogWriteThread worker([&] { ++notices; });
        worker.CreateThread(2, "host.example");
        ASSERT_TRUE(site.WaitFor("/login/getGlobalIP.jsp"));
        worker.Stop();
    }
    const auto init = site.RequestsFor("/login/inituser.jsp");
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(init[0].query, "flag=2&localip=" + GetLocalAddress() + "&connectip=host.example");
}

TEST_F(WebQueries, AddressNoticeOnlyWhenPublicAddressDiffers)
{
    const std::string local = GetLocalAddress();
    auto runToEnd = [&](const std::string &reply) {
        site.Answer("/login/getGlobalIP.jsp", reply);
        std::atomic<int> notices{0};
        CLogWriteThread worker([&] { ++notices; });
        worker.CreateThread(1, "");
        for (int i = 0; i < 500 && !worker.Finished(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(worker.Finished());
        worker.Stop();
        return notices.load();
    };
    EXPECT_EQ(runToEnd("<start>" + local + "<end>\r\n"), 0);
    EXPECT_EQ(runToEnd("<start>203.0.113.7<end>\r\n"), 1);
    EXPECT_EQ(runToEnd("203.0.113.7\r\n"), 0);
}

TEST_F(WebQueries, StopDoesNotWaitForASlowSite)
{
    site.Answer("/login/inituser.jsp", "<start>ok<end>", 200, 8000);
    const auto begin = std::chrono::steady_clock::now();
    {
        CLogWriteThread worker([] {});
        worker.CreateThread(1, "");
        ASSERT_TRUE(site.WaitFor("/login/inituser.jsp"));
        worker.Stop();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(4));
    EXPECT_TRUE(site.RequestsFor("/login/getGlobalIP.jsp").empty());
}
