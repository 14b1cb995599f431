// The script fetch (silent, the URL text becomes the local path) and the
// query fetch (the answer as text, or nothing).
#include "DownloadFixture.h"

namespace {

using ScriptFetch = DownloadTest;
using QueryFetch = DownloadTest;

const char *const kScript =
    "[script]\r\nSignature=$WEB_UPDATER$\r\nVersion=1.1\r\n[updater]\r\nVersion=1.22\r\n";

} // namespace

TEST_F(ScriptFetch, UrlTextBecomesTheLocalPath)
{
    site().Answer("/update/Velmor.kus", kScript);
    std::ofstream(tmp() / ".Velmor.kus.resume") << "stale note\n\n";
    std::string url = Url("/update/Velmor.kus");
    ASSERT_TRUE(downloader.FetchScript(url));
    EXPECT_EQ(url, (tmp() / "Velmor.kus").string());
    EXPECT_EQ(TestDir::Read(url), kScript);
    EXPECT_FALSE(std::filesystem::exists(tmp() / ".Velmor.kus.resume"));
    const auto requests = site().RequestsFor("/update/Velmor.kus");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].agent, "Script");
    EXPECT_EQ(requests[0].cacheControl, "no-cache");
    EXPECT_EQ(requests[0].pragma, "no-cache");
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ScriptFetch, FailuresLeaveTheUrlAlone)
{
    site().Answer("/update/absent.kus", "not here", 404);
    site().AnswerWith("/update/loop.kus", R"({"redirect": "/update/loop.kus"})");
    site().AnswerWith("/update/huge.kus", R"({"body": "[a]\r\n", "endless": true, "length": "none"})");
    downloader.limits.maxScriptBytes = 64 * 1024;
    for (const char *path : {"/update/absent.kus", "/update/loop.kus", "/update/huge.kus", "/update/"}) {
        SCOPED_TRACE(path);
        std::string url = Url(path);
        EXPECT_FALSE(downloader.FetchScript(url));
        EXPECT_EQ(url, Url(path));
    }
    EXPECT_FALSE(std::filesystem::exists(tmp() / "absent.kus"));
    // Only the failed read of the body is shown (the caller reports the rest).
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text.substr(0, Boxes()[0].text.find('\n')),
              "Error Code : 63, InternetReadFile Failed!");
    EXPECT_EQ(Boxes()[0].caption, "Mirvane");
}

TEST_F(ScriptFetch, DroppedScriptIsAFailedRead)
{
    site().AnswerWith("/update/cut.kus",
                      R"({"body": )" + ServiceSite::Json(kScript) + R"(, "drop_after": 20})");
    std::string url = Url("/update/cut.kus");
    EXPECT_FALSE(downloader.FetchScript(url));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text.substr(0, Boxes()[0].text.find('\n')),
              "Error Code : 18, InternetReadFile Failed!");
}

TEST_F(QueryFetch, AnswerTextOrNothing)
{
    site().Answer("/launch/count.jsp", "<start>ok<end>\r\n");
    EXPECT_EQ(downloader.FetchQuery(Url("/launch/count.jsp?guid=AB")), "<start>ok<end>\r\n");
    const auto requests = site().RequestsFor("/launch/count.jsp");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].agent, "Query");
    EXPECT_EQ(requests[0].query, "guid=AB");

    site().Answer("/launch/missing.jsp", "gone", 404);
    site().AnswerWith("/launch/garbage.jsp", R"({"raw": "garbage"})");
    site().AnswerWith("/launch/short.jsp", R"({"body": "abc", "length": 10})");
    site().AnswerWith("/launch/endless.jsp", R"({"body": "x", "endless": true, "length": "none"})");
    downloader.limits.maxQueryBytes = 4096;
    for (const char *path :
         {"/launch/missing.jsp", "/launch/garbage.jsp", "/launch/short.jsp", "/launch/endless.jsp"})
        EXPECT_EQ(downloader.FetchQuery(Url(path)), "") << path;
    EXPECT_EQ(downloader.FetchQuery("http://127.0.0.1:1/closed.jsp"), "");
    EXPECT_EQ(downloader.FetchQuery("file:///etc/hostname"), "");
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(std::filesystem::is_empty(tmp()));
}
