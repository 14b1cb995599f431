#pragma once
// A private machine for one install-engine test: home, XDG folders (the
// product's temporary folder is under the state folder), Windows folder,
// TMPDIR (the shared temporary folder, where other users could plant
// names) and registry store inside a test folder, a restart command that
// only records the request, and message boxes that are recorded and
// answered from a list. Everything it changes is restored when it ends.
// `ChildEnvironment()` gives a program under test the same machine.
#include "platform/MessageBox.h"

#include "TestDir.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class EngineTestEnv {
public:
    explicit EngineTestEnv(const std::string &name) : m_dir(name)
    {
        for (const char *sub : {"home", "data", "config", "cache", "state", "windows", "tmp", "registry"})
            std::filesystem::create_directories(m_dir.path() / sub);
        Set("HOME", Path("home"));
        Set("XDG_DATA_HOME", Path("data"));
        Set("XDG_CONFIG_HOME", Path("config"));
        Set("XDG_CACHE_HOME", Path("cache"));
        Set("XDG_STATE_HOME", Path("state"));
        Set("VELMOR_WINDOWS_DIR", Path("windows"));
        Set("TMPDIR", Path("tmp"));
        Set("VELMOR_REGISTRY_DIR", Path("registry"));
        Set("VELMOR_RESTART_COMMAND", "echo restart >> '" + Path("restart-requests") + "'");
        Set("VELMOR_MESSAGEBOX_ANSWERS", "");
        m_oldHandler = platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest &request) {
            m_boxes.push_back(request);
            if (m_answers.empty())
                return platform::DefaultAnswer(request.style);
            const int answer = m_answers.front();
            m_answers.erase(m_answers.begin());
            return answer;
        });
    }
    ~EngineTestEnv()
    {
        platform::SetMessageBoxHandler(m_oldHandler);
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            it->second ? setenv(it->first.c_str(), it->second->c_str(), 1) : unsetenv(it->first.c_str());
    }
    EngineTestEnv(const EngineTestEnv &) = delete;
    EngineTestEnv &operator=(const EngineTestEnv &) = delete;

    std::string Root() const { return m_dir.path().string(); }
    std::string Path(const std::string &sub) const { return (m_dir.path() / sub).string(); }
    // The product's temporary folder (downloads, the install file, the
    // waiting copies, the self-update's copy), made by the product.
    std::string Temp() const { return Path("state") + "/velmor/temp"; }

    // Answers for the next message boxes of this process, in order.
    void Answer(std::vector<int> answers) { m_answers = std::move(answers); }
    const std::vector<platform::MessageBoxRequest> &Boxes() const { return m_boxes; }
    int RestartRequests() const
    {
        const std::string log = TestDir::Read(Path("restart-requests"));
        int n = 0;
        for (std::size_t at = 0; (at = log.find("restart", at)) != std::string::npos; ++at)
            ++n;
        return n;
    }

    // "NAME=value" for every variable this environment set, for a child.
    std::vector<std::string> ChildEnvironment() const
    {
        std::vector<std::string> env;
        for (const auto &entry : m_saved)
            if (const char *value = std::getenv(entry.first.c_str()))
                env.push_back(entry.first + "=" + value);
        return env;
    }

    void Set(const std::string &name, const std::string &value)
    {
        const char *old = std::getenv(name.c_str());
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name.c_str(), value.c_str(), 1);
    }

private:
    TestDir m_dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
    platform::MessageBoxHandler m_oldHandler;
    std::vector<platform::MessageBoxRequest> m_boxes;
    std::vector<int> m_answers;
};
