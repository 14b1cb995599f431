#pragma once
// What the install worker's tests share: a private machine per test
// (EngineTestEnv), one stand-in site per suite serving the downloads, a
// script written through the profile functions, a progress sink that
// records every call, and the worker run on a thread of its own as the
// download form runs it.
#include "CInstallWorker.h"
#include "ItemSelection.h"

#include "platform/Profile.h"
#include "platform/Registry.h"

#include "../EngineTestEnv.h"
#include "ServiceSite.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace installengine;

// Records what the worker reports, in order, from the worker's thread.
class RecordingProgress final : public IInstallProgress {
public:
    void SetStatusText(std::string_view text) override { Add("status:" + std::string(text)); }
    void SetFileNameText(std::string_view text) override { Add("file:" + std::string(text)); }
    void SetSpeedText(std::string_view) override {}
    void SetDownloadProgress(std::int64_t, std::int64_t) override
    {
        std::function<void()> hook;
        {
            std::lock_guard lock(m_lock);
            hook = onDownloadProgress;
        }
        if (hook)
            hook();
    }
    void SetInstallProgress(int done, int total) override
    {
        std::lock_guard lock(m_lock);
        m_done = done;
        m_total = total;
    }
    void SetCancelEnabled(bool enabled) override { Add(enabled ? "cancel:on" : "cancel:off"); }

    std::vector<std::string> Events() const
    {
        std::lock_guard lock(m_lock);
        return m_events;
    }
    // The status texts in order, repeats folded.
    std::vector<std::string> Statuses() const
    {
        std::vector<std::string> out;
        for (const std::string &e : Events())
            if (e.rfind("status:", 0) == 0 && (out.empty() || out.back() != e.substr(7)))
                out.push_back(e.substr(7));
        return out;
    }
    std::pair<int, int> Steps() const
    {
        std::lock_guard lock(m_lock);
        return {m_done, m_total};
    }

    std::function<void()> onDownloadProgress;

private:
    void Add(std::string event)
    {
        std::lock_guard lock(m_lock);
        m_events.push_back(std::move(event));
    }
    mutable std::mutex m_lock;
    std::vector<std::string> m_events;
    int m_done = 0;
    int m_total = 0;
};

// An update or web script, written as the site would serve it.
class ScriptFile {
public:
    explicit ScriptFile(std::string path) : m_path(std::move(path))
    {
        Set("script", "Signature", "$WEB_UPDATER$");
        Set("script", "Version", "1.1");
    }
    ScriptFile &Set(const std::string &section, const std::string &key, const std::string &value)
    {
        EXPECT_TRUE(platform::WritePrivateProfileString(section, key.c_str(), value.c_str(), m_path));
        return *this;
    }
    // An item section with its keys, listed in the list section that
    // "application"/`listKey` names.
    ScriptFile &Item(const std::string &listKey, const std::string &section,
                     const std::vector<std::pair<std::string, std::string>> &keys)
    {
        const std::string list = listKey + "_List";
        Set("application", listKey, list);
        m_lists[list].push_back(section);
        EXPECT_TRUE(platform::WritePrivateProfileSection(list, m_lists[list], m_path));
        for (const auto &[key, value] : keys)
            Set(section, key, value);
        return *this;
    }
    const std::string &Path() const { return m_path; }

private:
    std::string m_path;
    std::map<std::string, std::vector<std::string>> m_lists;
};

class WorkerTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_siteDir = std::make_unique<TestDir>("worker-site");
        s_site = std::make_unique<ServiceSite>(s_siteDir->path());
    }
    static void TearDownTestSuite()
    {
        s_site.reset();
        s_siteDir.reset();
    }

    WorkerTest()
    {
        for (const char *name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        m_env.Set("PATH", m_env.Path("bin") + ":" + VELMOR_PROGRAM_DIR + ":/usr/bin:/bin");
        std::filesystem::create_directories(m_env.Path("bin"));
        m_installDir = m_env.Path("home") + "/.local/opt/Quenta Velmor";
    }

    static ServiceSite &Site() { return *s_site; }
    static std::string Url(const std::string &name) { return Site().BaseUrl() + "/" + name; }

    // Serves `bytes` as "/NAME"; returns the URL.
    static std::string Serve(const std::string &name, const std::string &bytes)
    {
        std::filesystem::create_directories((Site().FilesDir() / name).parent_path());
        std::ofstream(Site().FilesDir() / name, std::ios::binary | std::ios::trunc) << bytes;
        return Url(name);
    }
    static std::string ServeFile(const std::string &name, const std::string &path)
    {
        return Serve(name, Read(path));
    }

    CInstallWorkerOptions Options() const
    {
        CInstallWorkerOptions o;
        o.scriptPath = m_script.Path();
        o.items = installengine::SelectFirstInstallItems(m_script.Path());
        o.names = {"벨모어", "Velmor", "1.0", m_env.Path("data") + "/applications/Quenta", m_installDir};
        o.downloadLimits.stallTimeoutSeconds = 5;
        return o;
    }

    // Runs the worker on a thread of its own and joins it.
    int RunWorker(installengine::CInstallWorker &worker)
    {
        int result = 0;
        std::thread thread([&] { result = worker.Run(m_cancel.Get(), m_progress); });
        thread.join();
        return result;
    }
    int RunWorker(const CInstallWorkerOptions &options)
    {
        installengine::CInstallWorker worker(options);
        return RunWorker(worker);
    }

    std::string Dir(const std::string &sub = "") const
    {
        return sub.empty() ? m_installDir : m_installDir + "/" + sub;
    }
    std::string Temp(const std::string &name) const { return m_env.Temp() + "/" + name; }

    static std::string Read(const std::string &path) { return TestDir::Read(path); }
    static bool Exists(const std::string &path)
    {
        std::error_code ec;
        return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
    }
    static void Put(const std::string &path, const std::string &bytes)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static bool Runnable(const std::string &path)
    {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0111) == 0111;
    }
    static std::optional<std::string> ReadString(platform::RegRoot root, const std::string &key,
                                                 const std::string &name)
    {
        platform::RegistryKey k;
        if (FAILED(platform::RegistryKey::Open(root, key, k)))
            return std::nullopt;
        return k.ReadString(name);
    }
    static std::optional<DWORD> ReadDword(platform::RegRoot root, const std::string &key,
                                          const std::string &name)
    {
        platform::RegistryKey k;
        if (FAILED(platform::RegistryKey::Open(root, key, k)))
            return std::nullopt;
        return k.ReadDword(name);
    }
    std::vector<std::string> Section(const std::string &section, const std::string &file) const
    {
        return platform::GetPrivateProfileSection(section, 1 << 20, file);
    }
    std::string Uninstall() const { return Dir("VelmorUnInstall.INF"); }
    std::string InstallFile() const { return Temp("VelmorInstall.INF"); }
    std::string Inventory(const std::string &path) const
    {
        return platform::GetPrivateProfileString("UnInstallFile", path, "", 1024, Uninstall());
    }
    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto &box : m_env.Boxes())
            texts.push_back(box.text);
        return texts;
    }
    static bool Contains(const std::vector<std::string> &lines, const std::string &line)
    {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    EngineTestEnv m_env{"worker"};
    std::string m_installDir;
    ScriptFile m_script{m_env.Path("tmp") + "/VelmorScript.kus"};
    RecordingProgress m_progress;
    platform::Event m_cancel{true, false};

private:
    static inline std::unique_ptr<TestDir> s_siteDir;
    static inline std::unique_ptr<ServiceSite> s_site;
};
