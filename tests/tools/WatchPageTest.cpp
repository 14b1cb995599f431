// The relay's watch page in a real browser: Debian's Chromium, driven over
// WebDriver (chromedriver's HTTP/JSON interface on loopback), on a private X
// display, against the project's nginx relay (tools/run-relay.sh) fed by
// ffmpeg over RTMP, and the stand-in site's front page that links to it.
#include "RelayServer.h"
#include "RunProgram.h"
#include "ServiceSite.h"
#include "TestDir.h"

#include "platform/CurlHolders.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kChromium = "/usr/bin/chromium";
constexpr const char *kChromeDriver = "/usr/bin/chromedriver";

bool WaitUntil(int timeoutMs, const std::function<bool()> &done)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    return done();
}

// Starts the blank-separated `command` and then `more` in `dir`; the program
// ends with the thread that started it, should the test die.
std::unique_ptr<ChildProgram> Start(const std::filesystem::path &dir, const std::string &command,
                                    const std::vector<std::string> &more = {})
{
    std::vector<std::string> args{"--pdeathsig", "TERM", "--"};
    std::istringstream words(command);
    for (std::string word; words >> word;)
        args.push_back(word);
    args.insert(args.end(), more.begin(), more.end());
    return std::make_unique<ChildProgram>("/usr/bin/setpriv", args, dir);
}

// What the page shows, read through the driver.
struct PageState {
    std::string state;  // the body's data-state: offair, onair, stopped, invalid
    double time = 0;    // the video's currentTime
    std::string errors; // the video's error and the page's last player error; empty for none
    std::string badge;  // the on-air badge's text
};

std::string Text(const QJsonValue &v)
{
    return v.toString().toStdString();
}

// A WebDriver client: one browser session, requests over libcurl.
class WebDriver {
public:
    explicit WebDriver(int port) : m_base("http://127.0.0.1:" + std::to_string(port))
    {
        platform::CurlGlobalInit();
    }
    ~WebDriver()
    {
        if (!m_session.empty())
            Request("DELETE", "/session/" + m_session, nullptr);
    }
    WebDriver(const WebDriver &) = delete;
    WebDriver &operator=(const WebDriver &) = delete;

    static constexpr const char *kNoAnswer = "no answer from chromedriver";

    // Starts Chromium with `args`: empty, or the driver's answer on failure.
    std::string StartBrowser(const QStringList &args)
    {
        QJsonObject options{{QStringLiteral("binary"), QString::fromUtf8(kChromium)},
                            {QStringLiteral("args"), QJsonArray::fromStringList(args)}};
        QJsonObject always{{QStringLiteral("browserName"), QStringLiteral("chrome")},
                           {QStringLiteral("goog:chromeOptions"), options}};
        QJsonObject body{
            {QStringLiteral("capabilities"), QJsonObject{{QStringLiteral("alwaysMatch"), always}}}};
        const QJsonObject answer = Request("POST", "/session", &body);
        m_session = Text(answer[QStringLiteral("value")][QStringLiteral("sessionId")]);
        if (!m_session.empty())
            return std::string();
        return m_lastAnswer.empty() ? kNoAnswer : m_lastAnswer;
    }

    void Open(const std::string &url)
    {
        QJsonObject body{{QStringLiteral("url"), QString::fromStdString(url)}};
        Command("POST", "/url", &body);
    }

    QJsonValue Execute(const char *script)
    {
        QJsonObject body{{QStringLiteral("script"), QString::fromUtf8(script)},
                         {QStringLiteral("args"), QJsonArray()}};
        return Command("POST", "/execute/sync", &body).value(QStringLiteral("value"));
    }

    PageState State()
    {
        const QJsonObject v = Execute(R"(
            const v = document.getElementById('video');
            return { state: document.body.dataset.state || '', time: v ? v.currentTime : 0,
                     errors: (v && v.error ? 'media error ' + v.error.code + ' ' : '') +
                             (document.body.dataset.lastError || ''),
                     badge: (document.getElementById('onair-badge') || {}).textContent || '' };)")
                                  .toObject();
        return {Text(v[QStringLiteral("state")]), v[QStringLiteral("time")].toDouble(),
                Text(v[QStringLiteral("errors")]), Text(v[QStringLiteral("badge")])};
    }

    const std::string &LastAnswer() const { return m_lastAnswer; }

private:
    QJsonObject Command(const char *method, const std::string &path, const QJsonObject *body)
    {
        return Request(method, "/session/" + m_session + path, body);
    }

    QJsonObject Request(const char *method, const std::string &path, const QJsonObject *body)
    {
        platform::CurlHandle curl(curl_easy_init());
        platform::CurlHeaders headers;
        platform::AppendHeader(headers, "Content-Type: application/json; charset=utf-8");
        const QByteArray payload = body ? QJsonDocument(*body).toJson(QJsonDocument::Compact) : QByteArray();
        std::string answer;
        const std::string url = m_base + path;
        curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
        curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, method);
        curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 90L);
        if (body) {
            curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, payload.constData());
            curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(payload.size()));
        }
        curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &answer);
        curl_easy_setopt(
            curl.get(), CURLOPT_WRITEFUNCTION, +[](char *data, size_t size, size_t n, void *out) {
                static_cast<std::string *>(out)->append(data, size * n);
                return size * n;
            });
        if (curl_easy_perform(curl.get()) != CURLE_OK)
            answer.clear();
        m_lastAnswer = answer;
        return QJsonDocument::fromJson(QByteArray::fromStdString(answer)).object();
    }

    std::string m_base;
    std::string m_session;
    std::string m_lastAnswer;
};

// A private X server (it picks a free display itself), chromedriver and one
// Chromium session, all with a home, XDG folders and a temporary folder
// inside the test's folder. The browser reaches nothing but loopback.
class Browser {
public:
    explicit Browser(const std::filesystem::path &dir) : m_dir(dir)
    {
        for (const char *sub : {"home", "config", "data", "state", "cache", "runtime", "tmp", "profile"})
            std::filesystem::create_directories(dir / sub);
        std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
        m_x = Start(dir, "Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp");
        WaitUntil(30000, [&] { return !m_x->Running() || m_x->Stdout().find('\n') != std::string::npos; });
        const std::string display = m_x->Stdout();
        if (display.empty() || display.find('\n') == std::string::npos) {
            m_problem = "Xvfb did not start: " + m_x->Stderr();
            return;
        }
        const int port = FreeLoopbackPort();
        m_driverProgram = Start(dir, "/usr/bin/env -u DBUS_SESSION_BUS_ADDRESS",
                                {"DISPLAY=:" + display.substr(0, display.find('\n')), "HOME=" + Sub("home"),
                                 "XDG_CONFIG_HOME=" + Sub("config"), "XDG_DATA_HOME=" + Sub("data"),
                                 "XDG_STATE_HOME=" + Sub("state"), "XDG_CACHE_HOME=" + Sub("cache"),
                                 "XDG_RUNTIME_DIR=" + Sub("runtime"), "TMPDIR=" + Sub("tmp"), kChromeDriver,
                                 "--port=" + std::to_string(port), "--log-path=" + Sub("chromedriver.log")});
        m_driver = std::make_unique<WebDriver>(port);
        // As root Chromium runs only without its sandbox. The rest keeps it
        // off the network (loopback is all there is) and out of the machine's
        // settings.
        QStringList args{QString::fromStdString("--user-data-dir=" + Sub("profile"))};
        for (const char *flag :
             {"--no-sandbox", "--disable-gpu", "--no-first-run", "--no-default-browser-check",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--disable-breakpad", "--password-store=basic", "--no-proxy-server",
              "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1", "--window-size=1000,700"})
            args << QString::fromUtf8(flag);
        // The driver takes the request once it listens.
        WaitUntil(30000, [&] {
            m_problem = m_driver->StartBrowser(args);
            return m_problem != WebDriver::kNoAnswer || !m_driverProgram->Running();
        });
    }
    ~Browser()
    {
        m_driver.reset(); // ends the session: Chromium quits
        for (auto *program : {m_driverProgram.get(), m_x.get()}) {
            if (program) {
                program->Signal(SIGTERM);
                if (program->Wait(10000) == -1)
                    program->Kill();
            }
        }
    }

    // Empty when the browser is ready, else what went wrong.
    const std::string &Problem() const { return m_problem; }
    WebDriver &Driver() { return *m_driver; }
    std::string Log() const { return TestDir::Read(m_dir / "chromedriver.log").substr(0, 20000); }

private:
    std::string Sub(const char *name) const { return (m_dir / name).string(); }

    std::filesystem::path m_dir;
    std::unique_ptr<ChildProgram> m_x;
    std::unique_ptr<ChildProgram> m_driverProgram;
    std::unique_ptr<WebDriver> m_driver;
    std::string m_problem;
};

// A broadcaster stand-in: ffmpeg publishing a test picture and a tone over
// RTMP, H.264 and AAC in FLV with a key frame every 2 s, as the broadcaster
// does; it ends with the object (the relay sees the connection drop), and
// after five minutes in any case.
std::unique_ptr<ChildProgram> Publish(const std::filesystem::path &dir, const std::string &url)
{
    return Start(
        dir,
        "ffmpeg -nostdin -v error -re -f lavfi -i testsrc=size=640x360:rate=15 -f lavfi -i "
        "sine=frequency=440:sample_rate=44100 -t 300 -c:v libx264 -preset ultrafast -tune zerolatency "
        "-g 30 -pix_fmt yuv420p -c:a aac -f flv",
        {url});
}

class WatchPage : public testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(kChromium) || !std::filesystem::exists(kChromeDriver))
            GTEST_SKIP()
                << "Chromium is not installed (tools/install-deps.sh installs chromium and chromium-driver)";
        ASSERT_TRUE(std::filesystem::exists(std::string(VELMOR_SOURCE_DIR) + "/tools/relay/www/hls.min.js"))
            << "hls.js is not beside the watch page: run tools/install-deps.sh";
        relay = std::make_unique<RelayServer>(dir.path() / "relay");
        ASSERT_TRUE(relay->Ready()) << relay->Log();
        browser = std::make_unique<Browser>(dir.path() / "browser");
        ASSERT_EQ(browser->Problem(), "");
    }
    void TearDown() override
    {
        if (HasFailure() && browser)
            std::printf("== chromedriver log (start):\n%s\n", browser->Log().c_str());
    }

    // Waits until the picture moves: the page on air, currentTime past zero.
    bool WaitForPicture(int timeoutMs)
    {
        return WaitUntil(timeoutMs, [&] {
            const PageState s = browser->Driver().State();
            return s.state == "onair" && s.time > 0.5;
        });
    }

    const std::string key = "room";
    TestDir dir{"watch-page"};
    std::unique_ptr<RelayServer> relay;
    std::unique_ptr<Browser> browser;
};

} // namespace

// The site's link for a room with a relay opens the relay's watch page, and
// the live picture plays there through hls.js: currentTime advances for 10 s
// with no media or player error and the page on air throughout.
TEST_F(WatchPage, PlaysTheRelaysBroadcastFromTheSitesLink)
{
    const auto publisher = Publish(dir.path(), relay->PublishUrl(key));
    ServiceSite site(dir.path() / "site", {"--room-relay", relay->WatchUrl(key)});
    ASSERT_GT(site.Port(), 0);
    WebDriver &driver = browser->Driver();
    driver.Open(site.BaseUrl() + "/");
    EXPECT_EQ(Text(driver.Execute("const a = document.getElementById('watch-browser');"
                                  "if (!a) return ''; a.click(); return a.textContent;")),
              "브라우저로 시청하기")
        << driver.LastAnswer();
    ASSERT_TRUE(WaitUntil(10000, [&] {
        return Text(driver.Execute("return location.href;")) == relay->WatchUrl(key);
    })) << driver.LastAnswer();
    ASSERT_TRUE(WaitForPicture(60000)) << driver.LastAnswer() << "\n" << publisher->Stderr() << relay->Log();

    const PageState first = driver.State();
    PageState last = first;
    for (int second = 0; second < 10; ++second) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const PageState now = driver.State();
        EXPECT_EQ(now.state + "/" + now.errors, "onair/") << "after " << second + 1 << " s";
        EXPECT_GE(now.time, last.time) << "the picture went back";
        last = now;
    }
    // Live playback on a loaded machine may stall for a moment, but the
    // picture moves for most of the time.
    EXPECT_GT(last.time - first.time, 6.0) << "from " << first.time << " to " << last.time;
    EXPECT_TRUE(publisher->Running()) << publisher->Stderr();
}

// Nothing published: the page says off air and waits. The broadcaster
// starts: the picture comes by itself. It stops: off air again. It comes
// back: the page picks the new broadcast up without a reload.
TEST_F(WatchPage, WaitsOffAirAndPicksTheBroadcastUpEachTimeItStarts)
{
    WebDriver &driver = browser->Driver();
    driver.Open(relay->WatchUrl(key));
    ASSERT_TRUE(WaitUntil(10000, [&] { return driver.State().state == "offair"; })) << driver.LastAnswer();
    std::this_thread::sleep_for(std::chrono::seconds(4)); // a few polls find nothing
    EXPECT_EQ(driver.State().state + " " + driver.State().badge, "offair 방송 준비중");

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("broadcast " + std::to_string(round));
        auto publisher = Publish(dir.path(), relay->PublishUrl(key));
        ASSERT_TRUE(WaitForPicture(60000)) << driver.LastAnswer() << "\n"
                                           << publisher->Stderr() << relay->Log();
        const PageState playing = driver.State();
        EXPECT_EQ(playing.badge, "● 방송중");
        EXPECT_TRUE(WaitUntil(20000, [&] { return driver.State().time > playing.time + 2; }));
        // The broadcaster goes: the picture stands, the page goes off air.
        publisher.reset();
        ASSERT_TRUE(WaitUntil(60000, [&] { return driver.State().state == "offair"; }))
            << driver.LastAnswer();
        EXPECT_EQ(driver.State().badge, "방송 준비중");
    }
}
