#pragma once
// What the downloader tests share: one stand-in site per test suite, a
// private state folder per test (its "velmor/temp" is where downloads go)
// and a shared TMPDIR beside it, message boxes answered and recorded, and a
// progress sink that records every call.
#include "CDownloader.h"

#include "ServiceSite.h"
#include "TestDir.h"
#include "platform/MessageBox.h"
#include "platform/ShellFolders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Records what the downloader reports, from whichever thread it runs on.
class RecordingProgress final : public IInstallProgress {
public:
    struct Bar {
        std::int64_t done;
        std::int64_t total;
    };

    void SetStatusText(std::string_view text) override { Add(statusTexts, text); }
    void SetFileNameText(std::string_view text) override { Add(fileNames, text); }
    void SetSpeedText(std::string_view text) override { Add(speedTexts, text); }
    void SetDownloadProgress(std::int64_t done, std::int64_t total) override
    {
        std::function<void(std::int64_t)> hook;
        {
            std::lock_guard lock(m_lock);
            bars.push_back({done, total});
            hook = onProgress;
        }
        if (hook)
            hook(done);
    }
    void SetInstallProgress(int done, int total) override
    {
        std::lock_guard lock(m_lock);
        steps.push_back({done, total});
    }
    void SetCancelEnabled(bool) override {}

    std::vector<Bar> Bars() const
    {
        std::lock_guard lock(m_lock);
        return bars;
    }
    std::vector<std::string> SpeedTexts() const
    {
        std::lock_guard lock(m_lock);
        return speedTexts;
    }

    // Called (on the downloading thread) after each recorded bar.
    std::function<void(std::int64_t done)> onProgress;

    std::vector<std::string> statusTexts, fileNames, speedTexts;
    std::vector<Bar> bars, steps;

private:
    void Add(std::vector<std::string> &to, std::string_view text)
    {
        std::lock_guard lock(m_lock);
        to.emplace_back(text);
    }
    mutable std::mutex m_lock;
};

class DownloadTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_siteDir = std::make_unique<TestDir>("download-site");
        s_site = std::make_unique<ServiceSite>(s_siteDir->path());
    }
    static void TearDownTestSuite()
    {
        s_site.reset();
        s_siteDir.reset();
    }

    void SetUp() override
    {
        ASSERT_GT(site().Port(), 0);
        for (const char *name : {"XDG_STATE_HOME", "TMPDIR"}) {
            const char *old = std::getenv(name);
            m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        }
        std::filesystem::create_directories(shared());
        setenv("XDG_STATE_HOME", (dir.path() / "state").c_str(), 1);
        setenv("TMPDIR", shared().c_str(), 1);
        // The folder as the product makes it.
        ASSERT_EQ(platform::GetTempPath(), tmp().string() + "/");
        for (const char *name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        m_oldHandler = platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest &request) {
            std::lock_guard lock(m_boxLock);
            m_boxes.push_back(request);
            return static_cast<int>(platform::IDOK);
        });
        downloader.limits.stallTimeoutSeconds = 2;
        downloader.limits.connectTimeoutMs = 5000;
    }
    void TearDown() override
    {
        platform::SetMessageBoxHandler(m_oldHandler);
        for (const auto &[name, value] : m_saved)
            value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }

    static ServiceSite &site() { return *s_site; }
    std::string Url(const std::string &path) const { return site().BaseUrl() + path; }
    // The product's temporary folder, and the shared one other users write.
    std::filesystem::path tmp() const { return dir.path() / "state/velmor/temp"; }
    std::filesystem::path shared() const { return dir.path() / "tmp"; }

    // A file of `bytes` pseudo-random bytes served by the site at "/NAME".
    static std::string ServeFile(const std::string &name, std::size_t bytes, unsigned seed = 1)
    {
        std::string data(bytes, '\0');
        unsigned x = seed * 2654435761u + 12345u;
        for (char &c : data) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 16);
        }
        std::ofstream(site().FilesDir() / name, std::ios::binary | std::ios::trunc) << data;
        return data;
    }

    std::vector<platform::MessageBoxRequest> Boxes()
    {
        std::lock_guard lock(m_boxLock);
        return m_boxes;
    }
    std::vector<std::string> BoxTexts()
    {
        std::vector<std::string> texts;
        for (const auto &box : Boxes())
            texts.push_back(box.text);
        return texts;
    }

    std::string FetchFile(const std::string &url, CDownloadItem *itemOut = nullptr,
                          const std::string &sha256 = "")
    {
        CDownloadItem item{url, sha256, ""};
        CInstallSteps steps(progress, 4);
        const std::string outcome = downloader.FetchFile(item, steps, cancel.Get());
        if (itemOut)
            *itemOut = item;
        return outcome;
    }

    TestDir dir{"download"};
    CDownloader downloader{"Mirvane"};
    RecordingProgress progress;
    platform::Event cancel{true, false};

private:
    static inline std::unique_ptr<TestDir> s_siteDir;
    static inline std::unique_ptr<ServiceSite> s_site;
    std::vector<std::pair<const char *, std::optional<std::string>>> m_saved;
    platform::MessageBoxHandler m_oldHandler;
    std::mutex m_boxLock;
    std::vector<platform::MessageBoxRequest> m_boxes;
};
