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

// What the page shows, read through the driver.
struct PageState {
    std::string state;     // the body's data-state: offair, onair, stopped, invalid
    double time = 0;       // the video's currentTime
    int mediaError = 0;    // the video's error code, 0 for none
    std::string lastError; // the page's last player error
    std::string badge;     // the on-air badge's text
};

// A WebDriver client: one browser session, requests over libcurl.
class WebDriver {
public:
    explicit WebDriver(int port) : m_base("http://127.0.0.1:" + std::to_string(port)) { platform::CurlGlobalInit(); }
    ~WebDriver()
    {
        if (!m_session.empty())
            Request("DELETE", "/session/" + m_session, nullptr);
    }
    WebDriver(const WebDriver &) = delete;
    WebDriver &operator=(const WebDriver &) = delete;

    bool Answers()
    {
        const QJsonObject status = Request("GET", "/status", nullptr);
        return status.value(QStringLiteral("value")).toObject().value(QStringLiteral("ready")).toBool();
    }

    // Starts Chromium with `args`; the driver's answer on failure.
    std::string StartBrowser(const QStringList &args)
    {
        QJsonObject options{{QStringLiteral("binary"), QString::fromUtf8(kChromium)},
                            {QStringLiteral("args"), QJsonArray::fromStringList(args)}};
        QJsonObject always{{QStringLiteral("browserName"), QStringLiteral("chrome")},
                           {QStringLiteral("goog:chromeOptions"), options}};
        QJsonObject body{{QStringLiteral("capabilities"), QJsonObject{{QStringLiteral("alwaysMatch"), always}}}};
        const QJsonObject answer = Request("POST", "/session", &body);
        m_session = answer.value(QStringLiteral("value")).toObject().value(QStringLiteral("sessionId")).toString().toStdString();
        return m_session.empty() ? m_lastAnswer : std::string();
    }

    void Open(const std::string &url)
    {
        QJsonObject body{{QStringLiteral("url"), QString::fromStdString(url)}};
        Command("POST", "/url", &body);
    }

    QJsonValue Execute(const char *script)
    {
        QJsonObject body{{QStringLiteral("script"), QString::fromUtf8(script)}, {QStringLiteral("args"), QJsonArray()}};
        return Command("POST", "/execute/sync", &body).value(QStringLiteral("value"));
    }

    // Clicks the element with this id; false when there is none.
    bool Click(const std::string &id)
    {
        QJsonObject find{{QStringLiteral("using"), QStringLiteral("css selector")},
                         {QStringLiteral("value"), QString::fromStdString("#" + id)}};
        const QJsonObject element = Command("POST", "/element", &find).value(QStringLiteral("value")).toObject();
        if (element.isEmpty() || element.contains(QStringLiteral("error")))
            return false;
        const QString ref = element.constBegin().value().toString();
        QJsonObject none;
        Command("POST", "/element/" + ref.toStdString() + "/click", &none);
        return true;
    }

    PageState State()
    {
        const QJsonObject v = Execute(R"(
            const v = document.getElementById('video');
            return { state: document.body.dataset.state || '', time: v ? v.currentTime : 0,
                     mediaError: v && v.error ? v.error.code : 0,
                     lastError: document.body.dataset.lastError || '',
                     badge: (document.getElementById('onair-badge') || {}).textContent || '' };)")
                                  .toObject();
        return {v.value(QStringLiteral("state")).toString().toStdString(),
                v.value(QStringLiteral("time")).toDouble(), v.value(QStringLiteral("mediaError")).toInt(),
                v.value(QStringLiteral("lastError")).toString().toStdString(),
                v.value(QStringLiteral("badge")).toString().toStdString()};
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
        curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, +[](char *data, size_t size, size_t n, void *out) {
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
        m_x = std::make_unique<ChildProgram>(
            "/usr/bin/setpriv",
            std::vector<std::string>{"--pdeathsig", "TERM", "--", "Xvfb", "-displayfd", "1", "-screen", "0",
                                     "1280x800x24", "-nolisten", "tcp"},
            dir);
        WaitUntil(30000, [&] { return !m_x->Running() || m_x->Stdout().find('\n') != std::string::npos; });
        const std::string display = m_x->Stdout();
        if (display.empty() || display.find('\n') == std::string::npos) {
            m_problem = "Xvfb did not start: " + m_x->Stderr();
            return;
        }
        const int port = FreeLoopbackPort();
        m_driverProgram = std::make_unique<ChildProgram>(
            "/usr/bin/setpriv",
            std::vector<std::string>{"--pdeathsig", "TERM", "--", "/usr/bin/env", "-u", "DBUS_SESSION_BUS_ADDRESS",
                                     "DISPLAY=:" + display.substr(0, display.find('\n')),
                                     "HOME=" + Sub("home"), "XDG_CONFIG_HOME=" + Sub("config"),
                                     "XDG_DATA_HOME=" + Sub("data"), "XDG_STATE_HOME=" + Sub("state"),
                                     "XDG_CACHE_HOME=" + Sub("cache"), "XDG_RUNTIME_DIR=" + Sub("runtime"),
                                     "TMPDIR=" + Sub("tmp"), kChromeDriver, "--port=" + std::to_string(port),
                                     "--log-path=" + Sub("chromedriver.log")},
            dir);
        m_driver = std::make_unique<WebDriver>(port);
        if (!WaitUntil(30000, [&] { return !m_driverProgram->Running() || m_driver->Answers(); }) ||
            !m_driverProgram->Running()) {
            m_problem = "chromedriver did not answer: " + m_driverProgram->Stderr();
            return;
        }
        // As root Chromium runs only without its sandbox. The rest keeps it
        // off the network (loopback is all there is) and out of the machine's
        // settings.
        m_problem = m_driver->StartBrowser(
            {QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
             QStringLiteral("--no-default-browser-check"), QStringLiteral("--disable-background-networking"),
             QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
             QStringLiteral("--disable-breakpad"), QStringLiteral("--password-store=basic"),
             QStringLiteral("--no-proxy-server"),
             QStringLiteral("--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"),
             QStringLiteral("--window-size=1000,700"),
             QString::fromStdString("--user-data-dir=" + Sub("profile"))});
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
// does; it ends with the object, and after five minutes in any case.
class Publisher {
public:
    Publisher(const std::filesystem::path &dir, const std::string &url)
        : m_program("/usr/bin/setpriv",
                    {"--pdeathsig", "TERM", "--", "ffmpeg", "-nostdin", "-v", "error", "-re", "-f", "lavfi", "-i",
                     "testsrc=size=640x360:rate=15", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100",
                     "-t", "300", "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-g", "30",
                     "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "64k", "-f", "flv", url},
                    dir)
    {
    }
    ~Publisher()
    {
        m_program.Signal(SIGTERM);
        if (m_program.Wait(10000) == -1)
            m_program.Kill();
    }
    bool Running() { return m_program.Running(); }
    std::string Errors() const { return m_program.Stderr(); }

private:
    ChildProgram m_program;
};

class WatchPage : public testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(kChromium) || !std::filesystem::exists(kChromeDriver))
            GTEST_SKIP() << "Chromium is not installed (tools/install-deps.sh installs chromium and chromium-driver)";
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
    Publisher publisher(dir.path(), relay->PublishUrl(key));
    ServiceSite site(dir.path() / "site", {"--room-relay", relay->WatchUrl(key)});
    ASSERT_GT(site.Port(), 0);
    WebDriver &driver = browser->Driver();
    driver.Open(site.BaseUrl() + "/");
    ASSERT_TRUE(driver.Click("watch-browser")) << driver.LastAnswer();
    ASSERT_TRUE(WaitUntil(10000, [&] {
        return driver.Execute("return location.href;").toString().toStdString() == relay->WatchUrl(key);
    })) << driver.LastAnswer();
    ASSERT_TRUE(WaitForPicture(60000)) << driver.LastAnswer() << "\n" << publisher.Errors() << relay->Log();

    const PageState first = driver.State();
    PageState last = first;
    for (int second = 0; second < 10; ++second) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const PageState now = driver.State();
        EXPECT_EQ(now.state, "onair") << "after " << second + 1 << " s: " << now.lastError;
        EXPECT_EQ(now.mediaError, 0);
        EXPECT_EQ(now.lastError, "");
        EXPECT_GE(now.time, last.time) << "the picture went back";
        last = now;
    }
    // Live playback on a loaded machine may stall for a moment, but the
    // picture moves for most of the time.
    EXPECT_GT(last.time - first.time, 6.0) << "from " << first.time << " to " << last.time;
    EXPECT_TRUE(publisher.Running()) << publisher.Errors();
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
    PageState waiting = driver.State();
    EXPECT_EQ(waiting.state, "offair");
    EXPECT_EQ(waiting.badge, "방송 준비중");

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("broadcast " + std::to_string(round));
        {
            Publisher publisher(dir.path(), relay->PublishUrl(key));
            ASSERT_TRUE(WaitForPicture(60000)) << driver.LastAnswer() << "\n" << publisher.Errors() << relay->Log();
            const PageState playing = driver.State();
            EXPECT_EQ(playing.badge, "● 방송중");
            EXPECT_TRUE(WaitUntil(20000, [&] { return driver.State().time > playing.time + 2; }));
        }
        // The broadcaster has gone: the picture stands, the page goes off air.
        ASSERT_TRUE(WaitUntil(60000, [&] { return driver.State().state == "offair"; })) << driver.LastAnswer();
        EXPECT_EQ(driver.State().badge, "방송 준비중");
    }
}
