#pragma once
// What the forms' tests share: the skin control registered in the test's
// private registry store (as the installer leaves it), the updater's shipped
// skin, a private temporary folder, and a message box handler that records
// what would have been shown and answers it.
#include "platform/MessageBox.h"
#include "platform/Module.h"
#include "platform/Win32Types.h"

#include "QtTestApp.h"
#include "RunProgram.h"
#include "TestDir.h"

#include <QApplication>
#include <QString>

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <vector>

// Registers the built ActSkn43.ocx through its own entry point, once.
inline bool RegisterSkinControl()
{
    static const bool registered = [] {
        platform::CModule module;
        if (!module.Load(ProgramPath("ActSkn43.ocx")))
            return false;
        auto reg = module.Function<HRESULT (*)()>("DllRegisterServer");
        return reg && reg() == S_OK;
    }();
    return registered;
}

inline QString MirvaneSkinPath()
{
    return QString::fromStdString(ProgramPath("Mirvane.skin"));
}

// A state folder of the process's own, whose "velmor/temp" takes the files
// the forms write, and a shared TMPDIR beside it ("shared").
inline const TestDir &PrivateTempDir()
{
    static TestDir *dir = [] {
        auto *d = new TestDir("forms-tmp");
        std::filesystem::create_directories(d->path() / "shared");
        setenv("XDG_STATE_HOME", d->path().c_str(), 1);
        setenv("TMPDIR", (d->path() / "shared").c_str(), 1);
        return d;
    }();
    return *dir;
}

// Records every message box and answers from a list (then the default).
class RecordedMessageBoxes {
public:
    explicit RecordedMessageBoxes(std::vector<int> answers = {}) : m_answers(std::move(answers))
    {
        m_old = platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest &r) {
            std::lock_guard lock(m_lock);
            shown.push_back(r);
            if (m_next < m_answers.size())
                return m_answers[m_next++];
            return (r.style & 0xFu) == platform::MB_YESNO ? int(platform::IDYES) : int(platform::IDOK);
        });
    }
    ~RecordedMessageBoxes() { platform::SetMessageBoxHandler(m_old); }
    RecordedMessageBoxes(const RecordedMessageBoxes &) = delete;
    RecordedMessageBoxes &operator=(const RecordedMessageBoxes &) = delete;

    std::vector<platform::MessageBoxRequest> shown;

private:
    std::mutex m_lock;
    std::vector<int> m_answers;
    std::size_t m_next = 0;
    platform::MessageBoxHandler m_old;
};

class FormsTest : public testing::Test {
protected:
    void SetUp() override
    {
        App<QApplication>();
        PrivateTempDir();
        ASSERT_TRUE(RegisterSkinControl());
    }
};
