#include "platform/Restart.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

using namespace platform;

namespace {

// The restart's environment for one test; the old values come back after.
class Restart : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char *name : {"VELMOR_RESTART_COMMAND", "DISPLAY", "WAYLAND_DISPLAY", "PATH"}) {
            const char *value = std::getenv(name);
            m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        unsetenv("VELMOR_RESTART_COMMAND");
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
    void TearDown() override
    {
        for (const auto &[name, value] : m_saved) {
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
        }
    }
    std::vector<std::pair<const char *, std::optional<std::string>>> m_saved;
    TestDir m_dir{"restart"};
};

} // namespace

TEST_F(Restart, TheStandInCommandRunsThroughTheShell)
{
    const std::string record = m_dir.file("restarts");
    setenv("VELMOR_RESTART_COMMAND", ("echo \"restart $((1+1))\" >> '" + record + "'").c_str(), 1);
    setenv("DISPLAY", ":0", 1); // the variable wins over a display
    EXPECT_TRUE(RestartSystem());
    EXPECT_TRUE(RestartSystem());
    EXPECT_EQ(TestDir::Read(record), "restart 2\nrestart 2\n");

    setenv("VELMOR_RESTART_COMMAND", "exit 3", 1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(RestartSystem());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("종료 코드 3"), std::string::npos);
}

TEST_F(Restart, WithoutDisplayAndCommandNothingRestartsAndTheLogSaysSo)
{
    // A systemctl that would record a request, first on PATH.
    std::ofstream(m_dir.file("systemctl")) << "#!/bin/sh\necho \"$@\" >> '" << m_dir.file("asked") << "'\n";
    std::filesystem::permissions(m_dir.file("systemctl"), std::filesystem::perms::owner_all);
    setenv("PATH", m_dir.path().c_str(), 1);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(RestartSystem());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("(Restart, "), std::string::npos) << err;
    EXPECT_NE(err.find("시스템을 재시작하지 않습니다"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("asked")));

    // With a display the request goes to logind through systemctl (here the
    // recording one).
    setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(RestartSystem());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(TestDir::Read(m_dir.file("asked")), "reboot\n");
}
